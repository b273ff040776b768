// Copied texts.
#include "ui/clipboard_text.h"

namespace kestrine {

std::string CopiedLines(const PacketLines& lines, const std::vector<size_t>& rows)
{
    std::string text;
    LineBuffer buffer;
    const auto append = [&](size_t row) {
        text.append(lines.Line(row, buffer));
        text.push_back('\n');
    };
    if (rows.size() > 1 && rows.front() != 0 && lines.Size() > 0) append(0);  // the column header
    for (const size_t row : rows)
        if (row < lines.Size()) append(row);
    return text;
}

std::string CopiedSubtree(const DetailTree& tree, NodeId node)
{
    std::string text;
    if (node >= 0 && static_cast<size_t>(node) < tree.Size()) tree.RenderSubtree(node, text);
    return text;
}

}  // namespace kestrine
