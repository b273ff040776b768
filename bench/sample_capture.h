// The capture file two benchmarks open: n UDP datagrams of 60 to 123 bytes with text
// payloads, 10 µs apart, written as the program saves a capture.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture_file/save_packets.h"
#include "common/packet_record.h"

namespace kestrine::bench {

// Ends the program with a message naming it when the file cannot be written.
inline void WriteSampleCapture(const std::string& path, int n, const char* program)
{
    std::vector<uint8_t> bytes;
    std::vector<size_t> offsets;
    bytes.reserve(static_cast<size_t>(n) * 92);
    for (int i = 0; i < n; ++i) {
        const int length = 60 + i % 64;
        offsets.push_back(bytes.size());
        const uint8_t header[28] = {0x45, 0, 0, static_cast<uint8_t>(length), 0, 1, 0, 0, 64, 17, 0, 0, 192, 0, 2, 1,
                                    198, 51, 100, 7, 0x04, 0x01, 0x00, 0x35, 0, static_cast<uint8_t>(length - 20), 0, 0};
        bytes.insert(bytes.end(), header, header + 28);
        bytes.resize(bytes.size() + static_cast<size_t>(length - 28), static_cast<uint8_t>('a' + i % 26));
    }
    std::vector<PacketRecord> records;
    for (int i = 0; i < n; ++i) {
        const size_t end = i + 1 < n ? offsets[static_cast<size_t>(i) + 1] : bytes.size();
        records.push_back(PacketRecord{bytes.data() + offsets[static_cast<size_t>(i)],
                                       static_cast<int32_t>(end - offsets[static_cast<size_t>(i)]), 0.0f,
                                       1700000000000000000 + 10000LL * i});
    }
    std::string error;
    if (!SavePackets(records.data(), n, path, &error)) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", program, path.c_str(), error.c_str());
        std::exit(1);
    }
}

}  // namespace kestrine::bench
