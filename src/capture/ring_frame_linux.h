// One frame of the Linux receive ring checked against the block that holds it before
// anything is copied out of it: the frame header is the kernel's, and a wrong offset or
// length must not make a receive read outside the block or write past the caller's room.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrine {

enum class RingFrame {
    Whole,      // the datagram lies in the block, uncut, and fits the room
    TooLarge,   // as Whole, but longer than the room
    CutShort,   // the frame holds less than the datagram (the filter's accept length)
    Malformed,  // the datagram reaches outside the block, or the lengths disagree
    Outside,    // the frame header itself does not lie inside the block: nothing of it is read
};

// The frame at offset in block[0..blockBytes), for a receive with room bytes.
RingFrame CheckRingFrame(const uint8_t* block, size_t blockBytes, size_t offset, size_t room);

}  // namespace kestrine
