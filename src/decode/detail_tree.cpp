// Detail tree storage and depth-first rendering.
#include "decode/detail_tree.h"

#include <algorithm>

namespace kestrine {

NodeId DetailTree::InsertLine(std::string_view text, NodeId parent)
{
    if (!text.empty()) std::memcpy(LineSpace(text.size()), text.data(), text.size());
    return AddWrittenLine(text.size(), parent);
}

NodeId DetailTree::AddWrittenLine(size_t length, NodeId parent)
{
    const auto id = static_cast<NodeId>(m_nodes.size());
    m_nodes.push_back(Node{static_cast<uint32_t>(m_textSize), static_cast<uint32_t>(length), parent});
    m_textSize += length;
    NodeId& last = parent == NO_NODE ? m_lastTop : m_nodes[static_cast<size_t>(parent)].lastChild;
    if (last == NO_NODE) {
        (parent == NO_NODE ? m_firstTop : m_nodes[static_cast<size_t>(parent)].firstChild) = id;
    } else {
        m_nodes[static_cast<size_t>(last)].nextSibling = id;
    }
    last = id;
    return id;
}

void DetailTree::Clear()
{
    m_nodes.clear();
    m_textSize = 0;
    m_firstTop = m_lastTop = NO_NODE;
}

bool DetailTree::WithinOneLine(size_t offset, size_t length) const
{
    // Texts lie in node order: the node holding offset is the last one starting at or before
    // it (an empty node shares its offset with the next one and comes before it).
    const auto after = std::upper_bound(m_nodes.begin(), m_nodes.end(), offset,
                                        [](size_t at, const Node& n) { return at < n.textOffset; });
    if (after == m_nodes.begin()) return false;
    const Node& n = *(after - 1);
    return offset + length <= static_cast<size_t>(n.textOffset) + n.textLength;
}

std::vector<NodeId> DetailTree::Children(NodeId node) const
{
    std::vector<NodeId> out;
    for (NodeId c = FirstChild(node); c != NO_NODE; c = NextSibling(c)) out.push_back(c);
    return out;
}

void DetailTree::Render(std::string& out) const
{
    for (NodeId top = FirstChild(NO_NODE); top != NO_NODE; top = NextSibling(top)) RenderSubtree(top, out);
}

void DetailTree::RenderSubtree(NodeId root, std::string& out) const
{
    // Iterative, since a deeply nested packet must not exhaust the stack.
    std::vector<std::pair<NodeId, int>> stack{{root, 0}};
    std::vector<NodeId> children;
    while (!stack.empty()) {
        const auto [node, depth] = stack.back();
        stack.pop_back();
        out.append(static_cast<size_t>(depth) * 2, ' ');
        out.append(Text(node));
        out.push_back('\n');
        children.clear();
        for (NodeId c = FirstChild(node); c != NO_NODE; c = NextSibling(c)) children.push_back(c);
        for (auto it = children.rbegin(); it != children.rend(); ++it) stack.emplace_back(*it, depth + 1);
    }
}

}  // namespace kestrine
