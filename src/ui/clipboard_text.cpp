// Copied texts.
#include "ui/clipboard_text.h"

#include <algorithm>
#include <limits>

#include "decode/summary.h"

namespace kestrine {

LinesCopy::LinesCopy(const PacketLines& lines, std::vector<size_t> rows) : m_lines(lines), m_rows(std::move(rows))
{
    const auto shown = [&](size_t row) { return row < m_lines.Size(); };
    m_rows.erase(std::remove_if(m_rows.begin(), m_rows.end(), [&](size_t row) { return !shown(row); }), m_rows.end());
    if (m_rows.size() > 1 && m_rows.front() != 0 && m_lines.Size() > 0) m_rows.insert(m_rows.begin(), 0);  // the column header
    // Room for the longest lines: pages never written to are never taken from the system.
    m_text.reserve(m_rows.size() * (SUMMARY_LINE_MAX_LENGTH + 1));
}

bool LinesCopy::Step(double seconds)
{
    const SliceDeadline deadline(seconds);
    LineBuffer buffer;
    while (m_next < m_rows.size()) {
        const size_t groupEnd = std::min(m_next + SLICE_GROUP * 16, m_rows.size());
        for (; m_next < groupEnd; ++m_next) {
            m_text.append(m_lines.Line(m_rows[m_next], buffer));
            m_text.push_back('\n');
        }
        if (deadline.Passed()) break;
    }
    return m_next == m_rows.size();
}

std::string CopiedLines(const PacketLines& lines, const std::vector<size_t>& rows)
{
    LinesCopy copy(lines, rows);
    while (!copy.Step(std::numeric_limits<double>::infinity())) {
    }
    return copy.TakeText();
}

std::string CopiedSubtree(const DetailTree& tree, NodeId node)
{
    std::string text;
    if (node >= 0 && static_cast<size_t>(node) < tree.Size()) tree.RenderSubtree(node, text);
    return text;
}

}  // namespace kestrine
