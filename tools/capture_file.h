// Reading the IPv4 datagrams of a capture file (pcap or pcapng) as packet records, the way
// a capture session would have stored them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/packet_record.h"

namespace kestrine {

// Offset of the IPv4 datagram inside a frame of the given link type, or -1 when the frame
// carries none (another protocol, an unknown link type, nothing after the link header).
int DatagramOffset(int linkType, const uint8_t* frame, uint32_t captured);

// How reading a capture file ended.
enum class ReadEnd {
    Complete,    // every record was read
    Stopped,     // the visitor asked to stop
    CannotOpen,  // not opened: missing, unreadable, empty or not a capture file; nothing visited
    CutShort,    // a record could not be read: the file ends inside it or is corrupt there
};

struct ReadOutcome {
    ReadEnd end = ReadEnd::Complete;
    int64_t datagrams = 0;  // datagrams visited
    std::string reason;     // one line, for CannotOpen and CutShort
};

// Receives each datagram's record and its index among the datagrams taken (from 0);
// returns false to stop reading.
using DatagramVisitor = std::function<bool(const PacketRecord&, int64_t)>;

// Calls visit for every IPv4 datagram of the file; path "-" reads standard input. The
// record's time is the frame's time minus the first taken frame's. opened, when given, is
// called once the file has been opened as a capture, before any datagram.
ReadOutcome ForEachDatagram(const char* path, const DatagramVisitor& visit,
                            const std::function<void()>& opened = nullptr);

}  // namespace kestrine
