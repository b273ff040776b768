// The capture-file parser behind capture_file.h: it reads one unit at a time (the file
// header, a pcap record, a pcapng block) from whatever bytes its caller holds, so the same
// code serves a file read whole and a file read in chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture_file/capture_file.h"

namespace kestrine {

// The most a frame may hold: more means its length is corrupt. It also bounds what a reader
// in chunks holds at once for a pcap record.
inline constexpr uint32_t LARGEST_FRAME = 262144;
// The most a pcapng block may hold, likewise.
inline constexpr uint32_t LARGEST_BLOCK = 16u << 20;
// The most interfaces one pcapng section may describe.
inline constexpr size_t MOST_INTERFACES = 1u << 16;

struct CaptureFrame {
    const uint8_t* data = nullptr;
    uint32_t length = 0;  // the bytes captured, all of them
    int linkType = 0;
    uint64_t timeNs = 0;  // since 1970, modulo 2^64 (a damaged stamp may overflow)
};

class CaptureParser {
public:
    enum class Step {
        Unit,    // a unit of `size` bytes was read, a frame among them when hasFrame
        More,    // the unit at this position needs `size` bytes; only when not atEnd
        End,     // the file ends after its last unit
        Failed,  // see Opened() and Reason()
    };
    struct Result {
        Step step = Step::End;
        size_t size = 0;
        bool hasFrame = false;
        CaptureFrame frame;
    };

    // Reads the unit at data[0..available), the file's bytes from the end of the previous
    // unit on; atEnd when the file has nothing past them. After Unit the caller moves on by
    // size bytes; after More it calls again with at least size bytes, or atEnd.
    Result Next(const uint8_t* data, size_t available, bool atEnd);

    // Whether the file header has been read: a failure before it means the file cannot be
    // opened as a capture, one after it that the file is cut short.
    bool Opened() const { return m_format != Format::Unknown; }
    const std::string& Reason() const { return m_reason; }
    // The file offset of the next unit.
    uint64_t Offset() const { return m_offset; }
    // The index the packet list would give the next datagram (the datagrams taken so far):
    // a failure names a pcap record by it, in the list's numbering.
    void SetNextListed(int64_t index) { m_nextListed = index; }

private:
    enum class Format { Unknown, Pcap, Pcapng };

    struct Interface {
        int linkType = 0;
        uint32_t snapLength = 0;            // 0: none
        uint64_t unitsPerSecond = 1000000;  // if_tsresol
        int64_t offsetSeconds = 0;          // if_tsoffset
    };

    Result OpenFile(const uint8_t* data, size_t available, bool atEnd);
    Result PcapRecord(const uint8_t* data, size_t available, bool atEnd);
    Result Block(const uint8_t* data, size_t available, bool atEnd);
    Result SectionHeader(const uint8_t* data, uint32_t length);
    Result InterfaceDescription(const uint8_t* body, uint32_t bodyLength, uint32_t length);
    Result PacketBlock(uint32_t type, const uint8_t* body, uint32_t bodyLength, uint32_t length);

    // The bytes from here: More, or when the file ends first, Failed with the reason made of
    // what the unit is ("packet 5", "the block") and how much of it is there.
    Result Need(size_t needed, size_t available, bool atEnd, const std::string& unit, const char* part);
    Result Fail(std::string reason);
    Result Corrupt(const std::string& unit, const std::string& why);
    Result Taken(size_t size);
    Result Frame(size_t size, const uint8_t* data, uint32_t captured, int linkType, uint64_t timeNs);

    // Numbers in the file's (or section's) byte order.
    uint16_t U16(const uint8_t* p) const;
    uint32_t U32(const uint8_t* p) const;
    uint64_t U64(const uint8_t* p) const;
    // How a failure names the unit at the current offset.
    std::string PacketName() const;
    std::string BlockName() const;

    Format m_format = Format::Unknown;
    bool m_bigEndian = false;  // the byte order of the file, or of the current section
    uint64_t m_offset = 0;
    std::string m_reason;
    // pcap
    bool m_nanoseconds = false;
    uint32_t m_snapLength = 0;
    int m_linkType = 0;
    int64_t m_packets = 0;     // records read
    int64_t m_nextListed = 0;  // see SetNextListed
    // pcapng: the current section's interfaces; the last frame's time, for simple packets
    std::vector<Interface> m_interfaces;
    uint64_t m_lastTimeNs = 0;
};

// Turns frames into packet records: the datagram inside, times counted from the first one.
class DatagramTaker {
public:
    // False when the frame carries no IPv4 datagram.
    bool Take(const CaptureFrame& frame, PacketRecord* record);
    // The link type of the first frame whose link type is not taken, or NO_LINK_TYPE.
    int UntakenLinkType() const { return m_untakenLinkType; }

private:
    int m_untakenLinkType = NO_LINK_TYPE;
    bool m_any = false;
    uint64_t m_firstNs = 0;
};

// Reads up to `most` bytes into `into`; returns 0 at the end of the data, or 0 with error set
// when reading failed.
using ReadBytes = std::function<size_t(uint8_t* into, size_t most, std::string* error)>;

// ForEachDatagram over any source of bytes, read in pieces of `chunk` bytes (more when one
// unit needs more).
ReadOutcome StreamDatagrams(const ReadBytes& read, const DatagramVisitor& visit, const std::function<void()>& opened,
                            size_t chunk);

}  // namespace kestrine
