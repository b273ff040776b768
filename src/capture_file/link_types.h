// The link types of capture files and where the IPv4 datagram lies inside a frame of each:
// one table, used by the capture-file parser.
#pragma once

#include <cstdint>
#include <string>

namespace kestrine {

// Offset of the IPv4 datagram inside a frame of the given link type (a pcap/pcapng LINKTYPE
// value), or -1 when the frame carries none (another protocol, a link type the reader does
// not take, nothing after the link headers). Every byte read lies inside captured.
int DatagramOffset(int linkType, const uint8_t* frame, uint32_t captured);

// Whether frames of the link type are searched for IPv4 datagrams at all.
bool TakesLinkType(int linkType);

// The link type's usual name with its number ("ARCnet (7)", "IEEE 802.11 with radiotap
// header (127)"), or "link type N" for one without a name here.
std::string LinkTypeName(int linkType);

}  // namespace kestrine
