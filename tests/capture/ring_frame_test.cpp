// The receive ring's frame check: a frame header that puts its datagram outside the block,
// claims more bytes than the datagram has, or lies outside the block itself is caught before
// anything is copied; a whole datagram is taken when it fits the room.
#include "capture/ring_frame_linux.h"

#include <gtest/gtest.h>
#include <linux/if_packet.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace kestrine {
namespace {

constexpr size_t BLOCK_BYTES = 4096;
constexpr size_t AT = 48;       // where the frame header lies in the block
constexpr uint16_t MAC = 80;    // where its datagram starts, from the header, as the kernel puts it
constexpr size_t ROOM = 2048;

// The check of one frame header with these fields at AT (or at) in a block of its own.
RingFrame Check(uint16_t mac, uint32_t snaplen, uint32_t len, size_t room = ROOM, size_t at = AT)
{
    std::vector<uint8_t> block(BLOCK_BYTES);
    tpacket3_hdr header{};
    header.tp_mac = mac;
    header.tp_snaplen = snaplen;
    header.tp_len = len;
    std::memcpy(block.data() + at, &header, sizeof header);
    return CheckRingFrame(block.data(), block.size(), at, room);
}

TEST(RingFrame, AWholeDatagramInTheBlockIsTakenWhenItFitsTheRoom)
{
    EXPECT_EQ(Check(MAC, 100, 100), RingFrame::Whole);
    EXPECT_EQ(Check(MAC, 100, 100, 100), RingFrame::Whole);  // exactly the room
    EXPECT_EQ(Check(MAC, 100, 100, ROOM, BLOCK_BYTES - MAC - 100), RingFrame::Whole);  // up to the block's end
    EXPECT_EQ(Check(MAC, 101, 101, 100), RingFrame::TooLarge);
    EXPECT_EQ(Check(MAC, 60, 100), RingFrame::CutShort);
}

TEST(RingFrame, ADatagramReachingOutsideTheBlockOrLongerThanOnTheWireIsRefused)
{
    EXPECT_EQ(Check(MAC, 101, 101, ROOM, BLOCK_BYTES - MAC - 100), RingFrame::Malformed);  // one byte past
    EXPECT_EQ(Check(0xFFFF, 100, 100), RingFrame::Malformed);
    EXPECT_EQ(Check(MAC, 0xFFFFFFFFu, 0xFFFFFFFFu, SIZE_MAX), RingFrame::Malformed);  // wraps in 32 bits
    EXPECT_EQ(Check(8, 100, 100), RingFrame::Malformed);  // over its own header
    // More captured than the datagram is long: tp_len fits the room, tp_snaplen does not.
    EXPECT_EQ(Check(MAC, ROOM + 1000, 100), RingFrame::Malformed);
}

TEST(RingFrame, AHeaderOutsideTheBlockIsNotRead)
{
    const std::vector<uint8_t> block(BLOCK_BYTES);
    EXPECT_EQ(CheckRingFrame(block.data(), block.size(), BLOCK_BYTES - sizeof(tpacket3_hdr), ROOM), RingFrame::Malformed);
    EXPECT_EQ(CheckRingFrame(block.data(), block.size(), BLOCK_BYTES - sizeof(tpacket3_hdr) + 1, ROOM), RingFrame::Outside);
    EXPECT_EQ(CheckRingFrame(block.data(), block.size(), BLOCK_BYTES + 4096, ROOM), RingFrame::Outside);
    EXPECT_EQ(CheckRingFrame(block.data(), block.size(), SIZE_MAX, ROOM), RingFrame::Outside);
}

}  // namespace
}  // namespace kestrine
