// The packet list model.
#include "ui/qt/packet_list_model.h"

namespace kestrine {

bool PacketListModel::Commit()
{
    const int size = static_cast<int>(m_lines.Size());
    if (size == m_shown) return false;
    beginInsertRows(QModelIndex(), m_shown, size - 1);
    m_shown = size;
    endInsertRows();
    return true;
}

void PacketListModel::Clear()
{
    beginResetModel();
    m_lines.Clear();
    m_shown = 0;
    endResetModel();
}

int PacketListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_shown; }

QVariant PacketListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown) return {};
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
    LineBuffer buffer;  // a file's lines are formatted here, when shown
    const std::string_view line = m_lines.Line(static_cast<size_t>(index.row()), buffer);
    return QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));  // 8-bit decoder text
}

}  // namespace kestrine
