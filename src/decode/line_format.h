// printf-style formatting of one tree line into a reusable buffer, then appended to the tree.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "decode/detail_tree.h"

namespace kestrine {

// Longest line: "Code %3d  " and the longest ICMP code text, well under 1 KiB.
inline constexpr int LINE_CAPACITY = 1024;

[[gnu::format(printf, 3, 4)]] inline NodeId AddLine(DetailTree& tree, NodeId parent, const char* format, ...)
{
    char line[LINE_CAPACITY];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) n = 0;
    if (n >= LINE_CAPACITY) n = LINE_CAPACITY - 1;
    return tree.InsertLine(std::string_view(line, static_cast<size_t>(n)), parent);
}

// Dotted text of a 32-bit address given in host order.
inline void FormatAddress(uint32_t address, char (&out)[16])
{
    std::snprintf(out, sizeof out, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF,
                  address & 0xFF);
}

}  // namespace kestrine
