// Capture files read in chunks or whole, through the one parser; see capture_file.h.
#include "capture_file/capture_file.h"

#include <cstring>
#include <new>
#include <string>

#include "capture_file/capture_parser.h"
#include "platform/file.h"

namespace kestrine {

namespace {

constexpr int LINKTYPE_NULL = 0;
constexpr int LINKTYPE_ETHERNET = 1;
constexpr int LINKTYPE_RAW_OLD = 12;  // raw IP as some writers stored it before 101
constexpr int LINKTYPE_RAW = 101;
constexpr int LINKTYPE_LOOP = 108;
constexpr int LINKTYPE_LINUX_SLL = 113;
constexpr int LINKTYPE_IPV4 = 228;
constexpr int LINKTYPE_LINUX_SLL2 = 276;

constexpr uint16_t ETHER_TYPE_IPV4 = 0x0800;
constexpr uint16_t ETHER_TYPE_VLAN = 0x8100;

// The piece a file is read in when streaming.
constexpr size_t READ_CHUNK = size_t{1} << 20;

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

ReadOutcome CannotOpen(std::string reason)
{
    ReadOutcome outcome;
    outcome.end = ReadEnd::CannotOpen;
    outcome.reason = std::move(reason);
    return outcome;
}

}  // namespace

int DatagramOffset(int linkType, const uint8_t* frame, uint32_t captured)
{
    int offset = -1;
    switch (linkType) {
    case LINKTYPE_RAW:
    case LINKTYPE_RAW_OLD:
        if (captured >= 1 && (frame[0] >> 4) != 4) return -1;  // raw frames may carry IPv6
        offset = 0;
        break;
    case LINKTYPE_IPV4: offset = 0; break;
    case LINKTYPE_ETHERNET:
        if (captured < 14) return -1;
        if (Be16(frame + 12) == ETHER_TYPE_IPV4) {
            offset = 14;
        } else if (Be16(frame + 12) == ETHER_TYPE_VLAN && captured >= 18 && Be16(frame + 16) == ETHER_TYPE_IPV4) {
            offset = 18;
        }
        break;
    case LINKTYPE_LINUX_SLL:
        if (captured >= 16 && Be16(frame + 14) == ETHER_TYPE_IPV4) offset = 16;
        break;
    case LINKTYPE_LINUX_SLL2:
        if (captured >= 20 && Be16(frame) == ETHER_TYPE_IPV4) offset = 20;
        break;
    case LINKTYPE_NULL:
    case LINKTYPE_LOOP:
        // Address family 2 (AF_INET), written in either byte order.
        if (captured >= 4 && ((frame[0] == 2 && frame[1] == 0 && frame[2] == 0 && frame[3] == 0) ||
                              (frame[0] == 0 && frame[1] == 0 && frame[2] == 0 && frame[3] == 2)))
            offset = 4;
        break;
    default: break;
    }
    if (offset < 0 || static_cast<uint32_t>(offset) >= captured) return -1;
    return offset;
}

ReadOutcome ForEachDatagram(const char* path, const DatagramVisitor& visit, const std::function<void()>& opened)
{
    InputFile file;
    std::string reason;
    if (!file.Open(path, &reason)) return CannotOpen(reason);
    const ReadBytes read = [&file](uint8_t* into, size_t most, std::string* error) {
        return file.Read(into, most, error);
    };
    return StreamDatagrams(read, visit, opened, READ_CHUNK);
}

namespace {

// Reads the datagrams of bytes[0..size), passing each record to take.
template <typename Take>
ReadOutcome Parse(const uint8_t* bytes, size_t size, const Take& take)
{
    ReadOutcome outcome;
    CaptureParser parser;
    DatagramTaker taker;
    size_t at = 0;
    for (;;) {
        const CaptureParser::Result result = parser.Next(bytes + at, size - at, true);
        if (result.step == CaptureParser::Step::End) return outcome;
        if (result.step != CaptureParser::Step::Unit) {  // Failed: More needs data past the end
            outcome.end = parser.Opened() ? ReadEnd::CutShort : ReadEnd::CannotOpen;
            outcome.reason = parser.Reason();
            return outcome;
        }
        at += result.size;
        if (result.hasFrame) ++outcome.frames;
        PacketRecord record;
        if (result.hasFrame && taker.Take(result.frame, &record)) {
            take(record);
            ++outcome.datagrams;
        }
    }
}

}  // namespace

ReadOutcome ParseCaptureFile(const uint8_t* bytes, size_t size, std::vector<PacketRecord>* records)
{
    return Parse(bytes, size, [records](const PacketRecord& record) { records->push_back(record); });
}

CaptureFileContents LoadCaptureFile(const std::string& path)
{
    CaptureFileContents contents;
    contents.file = std::make_unique<MappedFile>();
    std::string reason;
    if (!contents.file->Open(path, &reason)) {
        contents.file.reset();
        contents.outcome = CannotOpen(reason);
        return contents;
    }
    // One pass: the index grows geometrically, so it is reallocated a few dozen times at
    // most, never per packet; a second pass would read a file larger than memory twice.
    const MappedFile& file = *contents.file;
    std::vector<PacketRecord>& records = contents.records;
    file.ExpectSequentialReading(true);
    try {
        contents.outcome = Parse(file.Data(), file.Size(), [&records](const PacketRecord& r) { records.push_back(r); });
    } catch (const std::bad_alloc&) {
        records = {};
        contents.outcome = CannotOpen("there is not enough memory for the index of its packets");
    }
    file.ExpectSequentialReading(false);
    if (file.Shrank() && contents.outcome.end != ReadEnd::CannotOpen) {
        contents.outcome.end = ReadEnd::CutShort;
        contents.outcome.reason = "the file became shorter while it was read";
    }
    return contents;
}

}  // namespace kestrine
