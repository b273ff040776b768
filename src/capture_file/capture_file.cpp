// Capture files read in chunks or whole, through the one parser; see capture_file.h.
#include "capture_file/capture_file.h"

#include <sys/stat.h>

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include "capture_file/capture_parser.h"
#ifdef _WIN32
#include "common/utf16_win.h"
#endif

namespace kestrine {

namespace {

// The piece a file is read in when streaming.
constexpr size_t READ_CHUNK = size_t{1} << 20;
// The most one fread asks for when reading whole.
constexpr size_t LARGEST_READ = size_t{1} << 30;
// Buffers from this size on are worth huge pages.
constexpr uintptr_t HUGE_PAGES_FROM = uintptr_t{4} << 20;

// Asks for a large buffer not yet touched to be backed by huge pages where the system offers
// them on request (Linux): filling it then costs a few hundred page faults instead of one
// per 4 KiB, which makes loading a large file several times faster.
void PreferHugePages(const void* data, size_t size)
{
#ifdef __linux__
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t start = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
    if (end >= start + HUGE_PAGES_FROM) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

// Opens path (UTF-8) to read bytes; null with errno set on failure.
FILE* OpenForReading(const std::string& path)
{
#ifdef _WIN32
    std::wstring wide;
    if (!Utf16FromUtf8(path, &wide) || wide.empty()) {
        errno = EINVAL;
        return nullptr;
    }
    return _wfopen(wide.c_str(), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

// The size of the regular file open as file; false for anything else (a pipe, a device).
bool RegularFileSize(FILE* file, uint64_t* size)
{
#ifdef _WIN32
    struct _stat64 status;
    if (_fstat64(_fileno(file), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) return false;
#else
    struct stat status;
    if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) return false;
#endif
    *size = static_cast<uint64_t>(status.st_size);
    return true;
}

ReadOutcome CannotOpen(std::string reason)
{
    ReadOutcome outcome;
    outcome.end = ReadEnd::CannotOpen;
    outcome.reason = std::move(reason);
    return outcome;
}

// Reads all of file into bytes; the reason on failure.
bool ReadWhole(FILE* file, std::vector<uint8_t>& bytes, std::string* reason)
{
    uint64_t size = 0;
    const bool regular = RegularFileSize(file, &size);
    if (regular && size >= SIZE_MAX / 2) {
        *reason = "the file is too large to read";
        return false;
    }
    try {
        // One byte more than the size, so that one pass finds the end (or a file that grew).
        const size_t first = regular ? static_cast<size_t>(size) + 1 : READ_CHUNK;
        bytes.reserve(first);
        PreferHugePages(bytes.data(), first);
        bytes.resize(first);
        size_t used = 0;
        for (;;) {
            const size_t wanted = std::min(bytes.size() - used, LARGEST_READ);
            errno = 0;
            const size_t got = std::fread(bytes.data() + used, 1, wanted, file);
            used += got;
            if (got < wanted) break;
            if (used == bytes.size()) bytes.resize(bytes.size() * 2);
        }
        if (std::ferror(file)) {
            *reason = std::strerror(errno != 0 ? errno : EIO);
            return false;
        }
        bytes.resize(used);
        if (!regular) bytes.shrink_to_fit();
    } catch (const std::bad_alloc&) {
        bytes = {};
        *reason = "there is not enough memory to read the file";
        return false;
    }
    return true;
}

}  // namespace

ReadOutcome ForEachDatagram(const char* path, const DatagramVisitor& visit, const std::function<void()>& opened)
{
    const bool standardInput = std::strcmp(path, "-") == 0;
    FILE* file = standardInput ? stdin : OpenForReading(path);
    if (!file) return CannotOpen(std::strerror(errno));
#ifdef _WIN32
    if (standardInput) _setmode(_fileno(stdin), _O_BINARY);
#endif
    const ReadBytes read = [file](uint8_t* into, size_t most, std::string* error) {
        errno = 0;
        const size_t got = std::fread(into, 1, most, file);
        if (got == 0 && std::ferror(file)) *error = std::strerror(errno != 0 ? errno : EIO);
        return got;
    };
    const ReadOutcome outcome = StreamDatagrams(read, visit, opened, READ_CHUNK);
    if (!standardInput) std::fclose(file);
    return outcome;
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
    FILE* file = OpenForReading(path);
    if (!file) {
        contents.outcome = CannotOpen(std::strerror(errno));
        return contents;
    }
    std::string reason;
    const bool read = ReadWhole(file, contents.bytes, &reason);
    std::fclose(file);
    if (!read) {
        contents.outcome = CannotOpen(reason);
        return contents;
    }
    // Two passes: the first counts the datagrams, so that the index is allocated once, at its
    // size, and the second fills it. A pass costs far less than reading the file.
    const uint8_t* bytes = contents.bytes.data();
    const size_t size = contents.bytes.size();
    const ReadOutcome counted = Parse(bytes, size, [](const PacketRecord&) {});
    try {
        contents.records.reserve(static_cast<size_t>(counted.datagrams));
    } catch (const std::bad_alloc&) {
        contents.outcome = CannotOpen("there is not enough memory for its " + std::to_string(counted.datagrams) +
                                      " packets");
        return contents;
    }
    PreferHugePages(contents.records.data(), contents.records.capacity() * sizeof(PacketRecord));
    std::vector<PacketRecord>& records = contents.records;
    contents.outcome = Parse(bytes, size, [&records](const PacketRecord& record) { records.push_back(record); });
    return contents;
}

}  // namespace kestrine
