// Where an IPv4 datagram ends inside the bytes taken for it: a link layer pads short
// frames (Ethernet to 60 bytes), and those bytes are no part of the datagram. Shared by
// the capture loop and the capture-file reader, so that both store the same bytes.
#pragma once

#include <cstdint>

namespace kestrine {

// The datagram's length: its header's total length when that is at least the header's
// length (itself at least 20) and no more than the bytes captured; otherwise everything captured (a cut or
// damaged datagram is kept as it came). Reads bytes 0..3 only, and only when captured.
inline uint32_t IpDatagramLength(const uint8_t* datagram, uint32_t captured)
{
    if (captured < 4) return captured;
    const uint32_t headerLength = (datagram[0] & 0x0Fu) * 4;
    const uint32_t total = uint32_t{datagram[2]} << 8 | datagram[3];
    return headerLength >= 20 && total >= headerLength && total <= captured ? total : captured;
}

}  // namespace kestrine
