// printf-style formatting of tree lines. The decoders format tens of lines per packet, so
// the common conversions are done here directly instead of through the C library's
// vsnprintf: %d %u %x (also with l and ll) %s with the flags '-', '0' and ' ', a width and,
// for %s, a precision.
// %f is passed to the library. The compiler checks every format as a printf format.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "decode/detail_tree.h"

namespace kestrine {

// Longest line: "Code %3d  " and the longest ICMP code text, well under 1 KiB.
inline constexpr int LINE_CAPACITY = 1024;

// Formats into out (capacity bytes, terminated); returns the length written (cut at capacity - 1).
int FormatLineV(char* out, int capacity, const char* format, va_list args);
[[gnu::format(printf, 3, 4)]] int FormatLine(char* out, int capacity, const char* format, ...);

// Formats one line and appends it as the last child of parent.
[[gnu::format(printf, 3, 4)]] NodeId AddLine(DetailTree& tree, NodeId parent, const char* format, ...);

}  // namespace kestrine
