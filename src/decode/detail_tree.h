// The detail tree model: an append-only ordered tree of one-line 8-bit texts with tags and
// expanded flags, and the flat line list that the packet list is. Decoders write here; the
// window, the dump tool and the tests read it. No UI types.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace kestrine {

using NodeId = int32_t;
inline constexpr NodeId NO_NODE = -1;  // as a parent: the top level

// Where summary lines go: the packet list (flat) or a detail tree (as a top-level line).
class SummaryTarget {
public:
    virtual NodeId AddTopLevelLine(std::string_view text) = 0;

protected:
    ~SummaryTarget() = default;
};

// A flat list of lines, as the packet list holds them.
class LineList final : public SummaryTarget {
public:
    NodeId AddTopLevelLine(std::string_view text) override
    {
        m_lines.emplace_back(text);
        return static_cast<NodeId>(m_lines.size() - 1);
    }
    std::vector<std::string> m_lines;
};

class DetailTree final : public SummaryTarget {
public:
    // Appends text as the last child of parent (NO_NODE: the last top-level line).
    NodeId InsertLine(std::string_view text, NodeId parent);
    // Room for a line of at most `most` bytes written in place, at the end of the text; it
    // stays valid until the next line is added.
    char* LineSpace(size_t most)
    {
        if (m_text.size() - m_textSize < most) m_text.resize(std::max(2 * m_text.size(), m_textSize + most));
        return m_text.data() + m_textSize;
    }
    // Appends the length bytes written at LineSpace() as the last child of parent.
    NodeId AddWrittenLine(size_t length, NodeId parent);
    NodeId AddTopLevelLine(std::string_view text) override { return InsertLine(text, NO_NODE); }
    void SetTag(NodeId node, uint32_t tag) { m_nodes[static_cast<size_t>(node)].tag = tag; }
    void SetExpanded(NodeId node, bool expanded) { m_nodes[static_cast<size_t>(node)].expanded = expanded; }
    // Empties the tree, keeping its storage for the next packet.
    void Clear();

    size_t Size() const { return m_nodes.size(); }
    std::string_view Text(NodeId node) const
    {
        const Node& n = m_nodes[static_cast<size_t>(node)];
        return std::string_view(m_text.data() + n.textOffset, n.textLength);
    }
    NodeId Parent(NodeId node) const { return m_nodes[static_cast<size_t>(node)].parent; }
    uint32_t Tag(NodeId node) const { return m_nodes[static_cast<size_t>(node)].tag; }
    bool Expanded(NodeId node) const { return m_nodes[static_cast<size_t>(node)].expanded; }
    NodeId FirstChild(NodeId node) const { return node == NO_NODE ? m_firstTop : m_nodes[static_cast<size_t>(node)].firstChild; }
    NodeId NextSibling(NodeId node) const { return m_nodes[static_cast<size_t>(node)].nextSibling; }
    // Every node's text back to back, in the order the nodes were added; a search reads
    // it in one pass and asks WithinOneLine whether a hit is real.
    std::string_view AllText() const { return std::string_view(m_text.data(), m_textSize); }
    // Whether length bytes from offset into AllText() lie within one node's text.
    bool WithinOneLine(size_t offset, size_t length) const;
    // Children of a node (NO_NODE: the top-level lines), in order.
    std::vector<NodeId> Children(NodeId node) const;

    // Appends every node, depth first, as two blanks per level, its text and "\n".
    void Render(std::string& out) const;
    // The same for one node and everything beneath it, the node itself at no indent.
    void RenderSubtree(NodeId root, std::string& out) const;

private:
    struct Node {
        uint32_t textOffset;
        uint32_t textLength;
        NodeId parent;
        NodeId firstChild = NO_NODE;
        NodeId lastChild = NO_NODE;
        NodeId nextSibling = NO_NODE;
        uint32_t tag = 0;
        bool expanded = false;
    };
    std::vector<Node> m_nodes;
    // All node texts back to back in the first m_textSize bytes; grown, never shrunk, so a
    // line is written in place with no allocation per line.
    std::vector<char> m_text;
    size_t m_textSize = 0;
    NodeId m_firstTop = NO_NODE;
    NodeId m_lastTop = NO_NODE;
};

}  // namespace kestrine
