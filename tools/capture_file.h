// Reading the IPv4 datagrams of a capture file (pcap or pcapng) as packet records, the way
// a capture session would have stored them.
#pragma once

#include <functional>
#include <string>

#include "common/packet_record.h"

namespace kestrine {

// Offset of the IPv4 datagram inside a frame of the given link type, or -1 when the frame
// carries none (another protocol, an unknown link type, nothing after the link header).
int DatagramOffset(int linkType, const uint8_t* frame, uint32_t captured);

// Calls visit for every IPv4 datagram of the file with its record and its index among the
// datagrams taken (from 0). The record's time is the frame's time minus the first taken
// frame's. Returns false with a one-line error when the file cannot be read.
bool ForEachDatagram(const char* path, const std::function<void(const PacketRecord&, int32_t)>& visit,
                     std::string* error);

}  // namespace kestrine
