// libFuzzer target: arbitrary bytes as a capture file, read whole and streamed in small
// pieces. A read outside the bytes is a sanitizer finding; so is any difference between the
// two readings, or a record outside the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture_file/capture_file.h"
#include "capture_file/capture_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kestrine;
    std::vector<PacketRecord> records;
    const ReadOutcome whole = ParseCaptureFile(data, size, &records);
    if (whole.datagrams != static_cast<int64_t>(records.size()) ||
        (whole.end == ReadEnd::Complete) != whole.reason.empty())
        std::abort();
    for (const PacketRecord& r : records) {
        if (r.data < data || r.length <= 0 || static_cast<size_t>(r.length) > size - static_cast<size_t>(r.data - data))
            std::abort();
    }

    // Pieces of 1 to 13 bytes, the reader's buffer as small: every unit crosses reads.
    const size_t piece = 1 + size % 13;
    size_t at = 0, index = 0;
    const auto read = [&](uint8_t* into, size_t most, std::string*) {
        const size_t n = std::min({most, piece, size - at});
        std::memcpy(into, data + at, n);
        at += n;
        return n;
    };
    const auto visit = [&](const PacketRecord& r, int64_t i) {
        if (i != static_cast<int64_t>(index) || index >= records.size()) std::abort();
        const PacketRecord& w = records[index++];
        if (r.length != w.length || std::memcmp(r.data, w.data, static_cast<size_t>(r.length)) != 0 ||
            r.arrivalNs != w.arrivalNs || r.timestamp != w.timestamp)
            std::abort();
        return true;
    };
    const ReadOutcome streamed = StreamDatagrams(read, visit, nullptr, piece);
    if (index != records.size() || streamed.end != whole.end || streamed.datagrams != whole.datagrams ||
        streamed.reason != whole.reason)
        std::abort();
    return 0;
}
