// One packet index entry: where a stored datagram lies in its session's buffer, how many
// bytes were received and when. Written by the capture engine; read by the decoders, the
// capture-file reader, the window and the packet saver.
#pragma once

#include <cstdint>

namespace kestrine {

struct PacketRecord {
    const uint8_t* data = nullptr;  // first byte of the IP header
    int32_t length = 0;             // bytes the receive returned
    float timestamp = 0.0f;         // seconds from the start of the capture (Begin Capture), as shown
    int64_t arrivalNs = 0;          // arrival time, nanoseconds since 1970 (wall clock), as saved
};

}  // namespace kestrine
