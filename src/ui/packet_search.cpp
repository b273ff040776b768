// The packet list's search.
#include "ui/packet_search.h"

#include <algorithm>
#include <array>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/text_format.h"
#include "decode/packet_detail.h"
#include "decode/section_states.h"

namespace kestrine {

namespace {

constexpr std::array<char, 256> FOLD = [] {
    std::array<char, 256> t{};
    for (int c = 0; c < 256; ++c) t[static_cast<size_t>(c)] = FoldAscii(static_cast<char>(c));
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
    if (n == 0) return;
    std::array<uint32_t, 256> folded;
    folded.fill(static_cast<uint32_t>(n));
    for (size_t i = 0; i + 1 < n; ++i) folded[static_cast<unsigned char>(m_needle[i])] = static_cast<uint32_t>(n - 1 - i);
    const auto last = static_cast<unsigned char>(m_needle[n - 1]);
    m_shift = folded[last];
    folded[last] = 0;  // a window ending in the needle's last letter: compare there
    for (int b = 0; b < 256; ++b) m_skip[static_cast<size_t>(b)] = folded[static_cast<unsigned char>(Fold(static_cast<char>(b)))];
}

namespace {

// Whether the needle's letters between its first and last one lie at text + 1 on.
bool MiddleMatches(const char* text, const char* needle, size_t n)
{
    for (size_t k = 1; k + 1 < n; ++k)
        if (Fold(text[k]) != needle[k]) return false;
    return true;
}

#if defined(__SSE2__)
// The sixteen bytes with A to Z in lower case.
__m128i FoldBlock(__m128i bytes)
{
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('A' - 1)), _mm_cmplt_epi8(bytes, _mm_set1_epi8('Z' + 1)));
    return _mm_or_si128(bytes, _mm_and_si128(upper, _mm_set1_epi8(0x20)));
}
#endif

}  // namespace

size_t FoldedText::Find(std::string_view text, size_t from) const
{
    const size_t n = m_needle.size();
    if (n == 0 || text.size() < n) return std::string_view::npos;
    const char* needle = m_needle.data();
    const size_t limit = text.size() - n;
    size_t i = from;
#if defined(__SSE2__)
    // Sixteen places at a time: those where both the needle's first and its last letter
    // match, each then compared in full.
    const __m128i first = _mm_set1_epi8(needle[0]);
    const __m128i last = _mm_set1_epi8(needle[n - 1]);
    for (; i + 15 <= limit; i += 16) {
        const __m128i starts = FoldBlock(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i)));
        const __m128i ends = FoldBlock(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i + n - 1)));
        auto candidates = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(starts, first), _mm_cmpeq_epi8(ends, last))));
        for (; candidates != 0; candidates &= candidates - 1) {
            const size_t at = i + static_cast<size_t>(std::countr_zero(candidates));
            if (MiddleMatches(text.data() + at, needle, n)) return at;
        }
    }
#endif
    // Horspool's skips over what is left.
    const auto* t = reinterpret_cast<const unsigned char*>(text.data()) + n - 1;  // t[i]: the window's last byte
    for (; i <= limit; i += m_shift) {
        for (uint32_t skip; (skip = m_skip[t[i]]) != 0;) {
            i += skip;
            if (i > limit) return std::string_view::npos;
        }
        if (Fold(text[i]) == needle[0] && MiddleMatches(text.data() + i, needle, n)) return i;
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
