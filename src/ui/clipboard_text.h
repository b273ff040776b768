// What Copy puts on the clipboard: packet lines, or a tree item with everything beneath it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "decode/detail_tree.h"
#include "ui/packet_lines.h"

namespace kestrine {

// The lines at rows (ascending), one per line ending in "\n"; when more than one packet
// line is copied, the column header line (row 0) comes first.
std::string CopiedLines(const PacketLines& lines, const std::vector<size_t>& rows);

// The node and everything beneath it, depth first, two blanks per level below the node.
std::string CopiedSubtree(const DetailTree& tree, NodeId node);

}  // namespace kestrine
