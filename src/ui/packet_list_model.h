// The packet list as a flat model of summary lines. Lines are appended while a capture is
// listed and shown in one insertion per timer tick, so thousands of lines in one tick
// cost one view update, not one per line.
#pragma once

#include <QAbstractListModel>

#include <string>
#include <string_view>
#include <vector>

#include "decode/detail_tree.h"

namespace kestrine {

class PacketListModel final : public QAbstractListModel, public SummaryTarget {
public:
    explicit PacketListModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

    // Appends a line; views see it at the next Commit.
    NodeId AddTopLevelLine(std::string_view text) override;
    // Shows every line appended since the last commit, in one insertion; false when none.
    bool Commit();
    // Empties the list.
    void Clear();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    std::vector<std::string> m_lines;
    int m_shown = 0;  // lines the views know of
};

}  // namespace kestrine
