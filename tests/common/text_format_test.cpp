// The shared value formatters and the cursor's bounds question.
#include "common/text_format.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "common/packet_cursor.h"

namespace kestrine {
namespace {

TEST(DottedQuad, EveryOctetValueMatchesPrintf)
{
    for (uint32_t v = 0; v < 256; ++v) {
        const uint32_t address = v << 24 | (255 - v) << 16 | (v * 7 % 256) << 8 | v;
        char ours[DOTTED_QUAD_SIZE], theirs[32];
        const int n = FormatDottedQuad(address, ours);
        std::snprintf(theirs, sizeof theirs, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                      (address >> 8) & 0xFF, address & 0xFF);
        EXPECT_STREQ(ours, theirs);
        EXPECT_EQ(n, static_cast<int>(std::strlen(theirs)));
    }
    char longest[DOTTED_QUAD_SIZE];
    EXPECT_EQ(FormatDottedQuad(0xFFFFFFFFu, longest), 15);
    EXPECT_STREQ(longest, "255.255.255.255");
}

TEST(DottedQuad, OctetsAsTheyLieOnTheWire)
{
    const uint32_t network = htonl(0xC0000201);  // 192.0.2.1
    char text[DOTTED_QUAD_SIZE];
    FormatDottedQuad(reinterpret_cast<const uint8_t*>(&network), text);
    EXPECT_STREQ(text, "192.0.2.1");
}

TEST(PacketCursor, HasAnswersWithoutReading)
{
    const uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    const PacketCursor c(bytes, 6);
    EXPECT_TRUE(c.Has(0));
    EXPECT_TRUE(c.Has(2, 4));
    EXPECT_FALSE(c.Has(3, 4));
    EXPECT_FALSE(c.Has(6));
    EXPECT_FALSE(c.Has(-1));
    EXPECT_TRUE(c.At(4).Has(0, 2));
    EXPECT_FALSE(c.At(7).Has(-1));  // a position past the end is allowed, reads from it are not
    EXPECT_TRUE(c.At(7).Has(-2));
    EXPECT_EQ(c.At(7).U8(-2), 6);
    EXPECT_FALSE(PacketCursor(nullptr, 0).Has(0));
    EXPECT_THROW(c.Be32(3), MalformedPacket);
    // A window is checked once, whole.
    const auto window = c.At(2).Window(0, 4);
    EXPECT_EQ(window.size(), 4u);
    EXPECT_EQ(window[0], 3);
    EXPECT_EQ(window[3], 6);
    EXPECT_THROW(c.At(3).Window(0, 4), MalformedPacket);
    EXPECT_THROW(c.Window(-1, 2), MalformedPacket);
}

}  // namespace
}  // namespace kestrine
