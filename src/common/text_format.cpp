// Dotted-quad formatting without the C library's printf: the decoders format two addresses
// per summary line and the packet list can grow by thousands of lines in one tick.
#include "common/text_format.h"

namespace kestrine {

int FormatDottedQuad(const uint8_t* octets, char (&out)[DOTTED_QUAD_SIZE])
{
    int n = 0;
    for (int i = 0; i < 4; ++i) {
        const unsigned v = octets[i];
        if (v >= 100) out[n++] = static_cast<char>('0' + v / 100);
        if (v >= 10) out[n++] = static_cast<char>('0' + v / 10 % 10);
        out[n++] = static_cast<char>('0' + v % 10);
        if (i < 3) out[n++] = '.';
    }
    out[n] = '\0';
    return n;
}

int FormatDottedQuad(uint32_t hostOrder, char (&out)[DOTTED_QUAD_SIZE])
{
    const uint8_t octets[4] = {static_cast<uint8_t>(hostOrder >> 24), static_cast<uint8_t>(hostOrder >> 16),
                               static_cast<uint8_t>(hostOrder >> 8), static_cast<uint8_t>(hostOrder)};
    return FormatDottedQuad(octets, out);
}

}  // namespace kestrine
