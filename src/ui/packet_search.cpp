// The packet list's search.
#include "ui/packet_search.h"

#include <algorithm>
#include <array>

#include "decode/packet_detail.h"
#include "decode/section_states.h"

namespace kestrine {

namespace {

constexpr std::array<char, 256> FOLD = [] {
    std::array<char, 256> t{};
    for (int c = 0; c < 256; ++c) t[static_cast<size_t>(c)] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    return t;
}();

char Fold(char c) { return FOLD[static_cast<unsigned char>(c)]; }

// The payload dump's lines: 48 hex characters and a blank, then one character per byte.
constexpr size_t DUMP_TEXT_COLUMN = 49;
constexpr size_t DUMP_GROUP = 16;

// Appends the bytes a dump line shows in its text column; the last line of a dump holds
// fewer than 16, and its hex part says how many.
void AppendDumpText(std::string_view line, std::string& out)
{
    if (line.size() < DUMP_TEXT_COLUMN) return;
    size_t count = 0;
    while (count < DUMP_GROUP && 3 * count < line.size() && line[3 * count] != ' ') ++count;
    out.append(line.substr(DUMP_TEXT_COLUMN, std::min(count, line.size() - DUMP_TEXT_COLUMN)));
}

}  // namespace

FoldedText::FoldedText(std::string_view needle) : m_needle(needle)
{
    for (char& c : m_needle) c = Fold(c);
    const size_t n = m_needle.size();
    std::array<uint32_t, 256> folded;
    folded.fill(static_cast<uint32_t>(n));
    for (size_t i = 0; i + 1 < n; ++i) folded[static_cast<unsigned char>(m_needle[i])] = static_cast<uint32_t>(n - 1 - i);
    for (int b = 0; b < 256; ++b) m_skip[static_cast<size_t>(b)] = folded[static_cast<unsigned char>(Fold(static_cast<char>(b)))];
}

size_t FoldedText::Find(std::string_view text, size_t from) const
{
    const size_t n = m_needle.size();
    if (n == 0 || text.size() < n) return std::string_view::npos;
    const char* t = text.data();
    const char* needle = m_needle.data();
    const char last = needle[n - 1];
    for (size_t i = from; i <= text.size() - n;) {
        const char end = t[i + n - 1];
        if (Fold(end) == last) {
            size_t k = 0;
            while (k + 1 < n && Fold(t[i + k]) == needle[k]) ++k;
            if (k + 1 >= n) return i;
        }
        i += m_skip[static_cast<unsigned char>(end)];
    }
    return std::string_view::npos;
}

bool DetailsHold(const FoldedText& needle, const PacketRecord& record, DetailTree& tree, std::string& joined)
{
    tree.Clear();
    AddPacketDetail(tree, record, NO_NODE);
    // All lines read as one text; a hit that runs from one line into the next is no match.
    const std::string_view all = tree.AllText();
    for (size_t at = needle.Find(all, 0); at != std::string_view::npos; at = needle.Find(all, at + 1))
        if (tree.WithinOneLine(at, needle.Size())) return true;
    // Each dump's text column read as one text: its lines in order, as the dump holds them.
    const auto size = static_cast<NodeId>(tree.Size());
    for (NodeId node = 0; node < size; ++node) {
        if (tree.Tag(node) != PayloadSection) continue;
        joined.clear();
        for (NodeId line = tree.FirstChild(node); line != NO_NODE; line = tree.NextSibling(line))
            AppendDumpText(tree.Text(line), joined);
        if (needle.In(joined)) return true;
    }
    return false;
}

PacketSearch::PacketSearch(const PacketLines& lines, const PacketRecord* records, size_t recordCount,
                           std::string_view text, bool details, bool forward, size_t current)
    : m_lines(lines),
      m_records(records),
      m_recordCount(recordCount),
      m_needle(text),
      m_details(details),
      m_forward(forward),
      m_current(current),
      m_size(lines.Size())
{
    if (m_needle.Empty() || m_size < 2) m_step = m_size + 1;  // nothing to look for, or nowhere
}

bool PacketSearch::Matches(size_t row)
{
    if (m_needle.In(m_lines.Line(row, m_buffer))) return true;
    // Lines follow the index: the header, then packet 0 onward.
    const size_t index = row - 1;
    return m_details && index < m_recordCount && DetailsHold(m_needle, m_records[index], m_tree, m_joined);
}

bool PacketSearch::Step(double seconds)
{
    const SliceDeadline deadline(seconds);
    while (m_step <= m_size) {
        const size_t groupEnd = std::min(m_step + SLICE_GROUP, m_size + 1);
        for (; m_step < groupEnd; ++m_step) {
            const size_t row = m_forward ? (m_current + m_step) % m_size : (m_current + m_size - m_step % m_size) % m_size;
            if (row == 0) continue;  // the column header line
            if (Matches(row)) {
                m_match = row;
                m_step = m_size + 1;
                return true;
            }
        }
        if (deadline.Passed()) break;
    }
    return m_step > m_size;
}

}  // namespace kestrine
