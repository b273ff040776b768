// printf-style formatting of tree lines. The decoders format tens of lines per packet, so
// the common conversions are done here directly instead of through the C library's
// vsnprintf: %d %u %x (also with l and ll) %s with the flags '-', '0' and ' ', a width and,
// for %s, a precision; %f where the rounding is beyond doubt (not halfway), else through
// the library. The compiler checks every format as a printf format.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/text_format.h"
#include "decode/detail_tree.h"

namespace kestrine {

// Longest line: "Code %3d  " and the longest ICMP code text, well under 1 KiB.
inline constexpr int LINE_CAPACITY = 1024;

// Formats into out (capacity bytes, terminated); returns the length written (cut at capacity - 1).
int FormatLineV(char* out, int capacity, const char* format, va_list args);
[[gnu::format(printf, 3, 4)]] int FormatLine(char* out, int capacity, const char* format, ...);

// Formats one line and appends it as the last child of parent.
[[gnu::format(printf, 3, 4)]] NodeId AddLine(DetailTree& tree, NodeId parent, const char* format, ...);

// One line built piece by piece, for the lines every packet has: no format to read, and
// written in place at the end of a tree's text (or into a buffer), so a search that decodes
// every packet of a file spends its time on the packets. Each piece writes what the printf
// conversion named beside it would.
class LineBuilder {
public:
    static constexpr size_t ROOM = 256;  // longer lines are cut
    // A line for tree, added by AddTo.
    explicit LineBuilder(DetailTree& tree) : m_tree(&tree), m_line(tree.LineSpace(ROOM)), m_room(ROOM) {}
    // A line into out (capacity bytes, at least 1), terminated by Finish.
    LineBuilder(char* out, int capacity) : m_line(out), m_room(static_cast<size_t>(capacity - 1)) {}

    // Literal text (also %s).
    LineBuilder& Text(std::string_view text)
    {
        // The common case apart, so that a literal's copy is a few moves, not a call.
        const size_t room = m_room - m_length;
        const size_t n = text.size() <= room ? text.size() : room;
        if (text.size() <= room) std::memcpy(m_line + m_length, text.data(), text.size());
        else std::memcpy(m_line + m_length, text.data(), room);
        m_length += n;
        return *this;
    }
    // %<width>d or %<width>u of a value that is not negative.
    LineBuilder& Decimal(uint64_t value, int width = 0) { return Number(false, value, width); }
    // %<width>d of any value; the sign counts in the width.
    LineBuilder& Signed(int64_t value, int width = 0)
    {
        return Number(value < 0, value < 0 ? 0ull - static_cast<uint64_t>(value) : static_cast<uint64_t>(value), width);
    }
    // %-<width>s.
    LineBuilder& Left(std::string_view text, int width)
    {
        Text(text);
        for (auto pad = static_cast<int64_t>(width) - static_cast<int64_t>(text.size()); pad > 0; --pad) Put(' ');
        return *this;
    }
    // "% <width>.<precision>f": a blank in place of the sign of a value that is not negative.
    LineBuilder& Fixed(double value, int width, int precision);
    // %0<digits>x.
    LineBuilder& Hex(uint32_t value, int digits)
    {
        while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
        for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) Put(HEX_DIGITS[(value >> shift) & 0x0F]);
        return *this;
    }
    // Appends the line as the last child of parent, in the tree it was made for.
    NodeId AddTo(NodeId parent) const { return m_tree->AddWrittenLine(m_length, parent); }
    // Terminates the line in its buffer; returns its length (cut at capacity - 1).
    int Finish()
    {
        m_line[m_length] = '\0';
        return static_cast<int>(m_length);
    }

private:
    LineBuilder& Number(bool negative, uint64_t magnitude, int width)
    {
        char digits[20];
        int n = 0;
        if (magnitude <= 0xFFFFFFFFu) {
            auto v = static_cast<uint32_t>(magnitude);  // the common case, with a cheaper division
            do {
                digits[n++] = static_cast<char>('0' + v % 10);
                v /= 10;
            } while (v != 0);
        } else {
            do {
                digits[n++] = static_cast<char>('0' + magnitude % 10);
                magnitude /= 10;
            } while (magnitude != 0);
        }
        for (int pad = width - n - (negative ? 1 : 0); pad > 0; --pad) Put(' ');
        if (negative) Put('-');
        while (n > 0) Put(digits[--n]);
        return *this;
    }
    void Put(char c)
    {
        if (m_length < m_room) m_line[m_length++] = c;
    }
    DetailTree* m_tree = nullptr;
    char* m_line;
    size_t m_room;
    size_t m_length = 0;
};

}  // namespace kestrine
