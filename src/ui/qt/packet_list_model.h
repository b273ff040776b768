// The packet list as a flat model over its line store. Lines are appended while a capture
// is listed and shown in one insertion per timer tick, so thousands of lines in one tick
// cost one view update, not one per line.
#pragma once

#include <QAbstractListModel>

#include "ui/packet_lines.h"

namespace kestrine {

class PacketListModel final : public QAbstractListModel {
public:
    explicit PacketListModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

    // Appended lines are seen by views at the next Commit.
    PacketLines& Lines() { return m_lines; }
    // Shows every line appended since the last commit, in one insertion; false when none.
    bool Commit();
    // Empties the list.
    void Clear();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    PacketLines m_lines;
    int m_shown = 0;  // lines the views know of
};

}  // namespace kestrine
