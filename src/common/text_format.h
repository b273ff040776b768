// The one formatter of each kind of value shown as text: dotted IPv4 addresses and hex
// digits; and the one ASCII case folding. Used by the capture engine, the filter, the
// decoders, the adapter provider and the window alike.
#pragma once

#include <cstdint>

namespace kestrine {

inline constexpr char HEX_DIGITS[] = "0123456789abcdef";

// Room for the longest dotted quad, "255.255.255.255", and its terminator.
inline constexpr int DOTTED_QUAD_SIZE = 16;

// "a.b.c.d" of a host-order value (first octet in the most significant byte), terminated;
// returns its length.
int FormatDottedQuad(uint32_t hostOrder, char (&out)[DOTTED_QUAD_SIZE]);
// The same of four octets as they lie on the wire (network order).
int FormatDottedQuad(const uint8_t* octets, char (&out)[DOTTED_QUAD_SIZE]);

// The letters A to Z in lower case; every other byte as it is.
constexpr char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

}  // namespace kestrine
