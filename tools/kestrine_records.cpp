// kestrine-records DIR FILE...: writes every IPv4 datagram of the capture files to DIR as
// one file each (the bytes of its record), for seeding the decoder fuzzer.
//
// Exit status 1 when a file cannot be opened or a record cannot be written (the run stops
// there). A file cut short gives the datagrams before the cut and a warning: damaged
// captures are welcome seeds.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "capture_file/capture_file.h"

namespace {

// Writes size bytes to path; false with a message naming it when that fails.
bool WriteRecord(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f != nullptr;
    if (ok) {
        errno = 0;
        ok = std::fwrite(data, 1, size, f) == size;
        ok = std::fclose(f) == 0 && ok;
    }
    if (!ok) std::fprintf(stderr, "kestrine-records: %s: %s\n", path.c_str(), std::strerror(errno != 0 ? errno : EIO));
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: kestrine-records DIR FILE...\n");
        return 2;
    }
    const std::string directory = argv[1];
    int64_t written = 0;
    bool writeFailed = false;
    int status = 0;
    for (int i = 2; i < argc && !writeFailed; ++i) {
        const kestrine::ReadOutcome outcome = kestrine::ForEachDatagram(
            argv[i], [&](const kestrine::PacketRecord& record, int64_t) {
                const std::string path = directory + "/record-" + std::to_string(written);
                writeFailed = !WriteRecord(path, record.data, static_cast<size_t>(record.length));
                if (!writeFailed) ++written;
                return !writeFailed;
            });
        if (outcome.end == kestrine::ReadEnd::CannotOpen) {
            std::fprintf(stderr, "kestrine-records: %s: %s\n", argv[i], outcome.reason.c_str());
            status = 1;
        } else if (outcome.end == kestrine::ReadEnd::CutShort) {
            std::fprintf(stderr, "kestrine-records: %s: cut short after %" PRId64 " datagram%s: %s\n", argv[i],
                         outcome.datagrams, outcome.datagrams == 1 ? "" : "s", outcome.reason.c_str());
        }
    }
    if (writeFailed) status = 1;
    std::printf("%" PRId64 " records\n", written);
    return status;
}
