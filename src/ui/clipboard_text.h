// What Copy puts on the clipboard: packet lines, or a tree item with everything beneath it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "decode/detail_tree.h"
#include "ui/long_operation.h"
#include "ui/packet_lines.h"

namespace kestrine {

// The lines at rows (ascending), one per line ending in "\n"; when more than one packet
// line is copied, the column header line (row 0) comes first. Built in slices: a million
// lines are formatted one after the other into one buffer sized for them at the start.
class LinesCopy final : public LongOperation {
public:
    // The lines must stay as they are until the copy ends.
    LinesCopy(const PacketLines& lines, std::vector<size_t> rows);
    bool Step(double seconds) override;
    int Percent() const override { return PercentOf(m_next, m_rows.size()); }
    // The text, once done; the copy lets go of it.
    std::string TakeText() { return std::move(m_text); }

private:
    const PacketLines& m_lines;
    std::vector<size_t> m_rows;
    size_t m_next = 0;
    std::string m_text;
};

std::string CopiedLines(const PacketLines& lines, const std::vector<size_t>& rows);

// The node and everything beneath it, depth first, two blanks per level below the node.
std::string CopiedSubtree(const DetailTree& tree, NodeId node);

}  // namespace kestrine
