// Reading the IPv4 datagrams of a capture file (pcap or pcapng) as packet records, the way
// a capture session would have stored them. The formats are parsed here, on every platform:
//   - pcap: either byte order, microsecond or nanosecond stamps, version 2.x (x <= 4);
//   - pcapng: sections in either byte order, any number of interfaces each with its own
//     link type, snapshot length, time resolution (if_tsresol) and offset (if_tsoffset);
//     enhanced, simple and obsolete packet blocks; other blocks are skipped.
// A record longer than its snapshot length is taken whole (up to the sanity limit on a
// record's length); the datagram ends where its IPv4 header's total length says, so link
// padding is not taken (link_types.h: which link types are read). A simple packet block
// has no time: it takes the time of the frame before it in the file, or 0 for the first.
// Every length is checked against the data: a damaged file ends the read with a reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/packet_record.h"
#include "platform/file.h"

namespace kestrine {

// How reading a capture file ended.
enum class ReadEnd {
    Complete,    // every record was read
    Stopped,     // the visitor asked to stop
    CannotOpen,  // not opened: missing, unreadable, empty, not a capture file, an unsupported
                 // version or a damaged file header; nothing visited
    CutShort,    // a record could not be read: the file ends inside it or it is corrupt
};

inline constexpr int NO_LINK_TYPE = -1;

struct ReadOutcome {
    ReadEnd end = ReadEnd::Complete;
    int64_t datagrams = 0;  // datagrams taken
    int64_t frames = 0;     // every frame read, IPv4 datagram or not
    std::string reason;     // one sentence, for CannotOpen and CutShort; names no file
    // The link type of the first frame read whose link type the reader does not take
    // (LinkTypeName names it), or NO_LINK_TYPE: why a file may give no datagram.
    int untakenLinkType = NO_LINK_TYPE;
};

// Receives each datagram's record and its index among the datagrams taken (from 0);
// returns false to stop reading.
using DatagramVisitor = std::function<bool(const PacketRecord&, int64_t)>;

// Calls visit for every IPv4 datagram of the file at path (UTF-8), read in chunks: memory
// stays bounded whatever the file's size. Path "-" reads standard input. The record's data
// lasts until visit returns; its timestamp counts from the first taken datagram. opened,
// when given, is called once the file header has been read, before any datagram.
ReadOutcome ForEachDatagram(const char* path, const DatagramVisitor& visit,
                            const std::function<void()>& opened = nullptr);

// A capture file mapped whole: the records point into the mapping, so the contents move
// but do not copy (a copy's records would point into the original).
struct CaptureFileContents {
    CaptureFileContents() = default;
    CaptureFileContents(CaptureFileContents&&) = default;
    CaptureFileContents& operator=(CaptureFileContents&&) = default;
    CaptureFileContents(const CaptureFileContents&) = delete;
    CaptureFileContents& operator=(const CaptureFileContents&) = delete;

    std::unique_ptr<MappedFile> file;   // the file, the storage the records point into
    std::vector<PacketRecord> records;  // the file's IPv4 datagrams in file order
    ReadOutcome outcome;                // Complete, CannotOpen (no records) or CutShort (the records before the cut)
};

// Maps the regular file at path (UTF-8, on Windows too) and takes its datagrams; the
// process keeps only the index. Anything but a regular file is refused at once (a FIFO
// never blocks the open): "-" is not standard input here. A file truncated while it was
// read is cut short there.
CaptureFileContents LoadCaptureFile(const std::string& path);

// Takes the datagrams of a capture file held in bytes[0..size), appending them to records;
// the records point into bytes. The outcome is as LoadCaptureFile's (never Stopped).
ReadOutcome ParseCaptureFile(const uint8_t* bytes, size_t size, std::vector<PacketRecord>* records);

}  // namespace kestrine
