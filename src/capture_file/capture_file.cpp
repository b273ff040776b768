// Capture files read in chunks or whole, through the one parser; see capture_file.h.
#include "capture_file/capture_file.h"

#include <cstring>
#include <new>
#include <string>

#include "capture_file/capture_parser.h"
#include "platform/file.h"

namespace kestrine {

namespace {

// The piece a file is read in when streaming.
constexpr size_t READ_CHUNK = size_t{1} << 20;


ReadOutcome CannotOpen(std::string reason)
{
    ReadOutcome outcome;
    outcome.end = ReadEnd::CannotOpen;
    outcome.reason = std::move(reason);
    return outcome;
}

}  // namespace

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
        outcome.untakenLinkType = taker.UntakenLinkType();
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
            parser.SetNextListed(++outcome.datagrams);
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
