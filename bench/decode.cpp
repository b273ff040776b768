// Decoder throughput over a mixed packet set (TCP with options and payload, UDP/DNS, an
// ICMP error with its enclosed datagram, IGMP): summary lines, full detail trees, and the
// summary lines of a whole 8096-packet capture.
//
//   decode [benchmark flags]        run the benchmarks
//   decode --write-pcap FILE [N]    write N packets (default 8096) of the set as a raw-IP
//                                   capture file, for comparing with other decoders
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture_file/save_packets.h"
#include "decode/detail_tree.h"
#include "decode/packet_detail.h"
#include "decode/summary.h"

using namespace kestrine;

namespace {

std::vector<uint8_t> Hex(const char* text)
{
    std::vector<uint8_t> out;
    for (const char* p = text; p[0] && p[1];) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::strtoul(std::string(p, 2).c_str(), nullptr, 16)));
        p += 2;
    }
    return out;
}

std::vector<std::vector<uint8_t>> MixedSet()
{
    std::vector<std::vector<uint8_t>> set;
    // TCP: 20-byte IP, 40-byte TCP with MSS, SACK permitted, timestamps, NOP, window scale; 200 bytes of text.
    auto tcp = Hex("45 00 01 18 1c 46 40 00 40 06 00 00 c0 00 02 01 c6 33 64 07 "
                   "b6 40 00 50 2f 84 2a cb 00 00 00 00 a0 18 6a 40 50 c4 00 00 "
                   "02 04 05 b4 04 02 08 0a 43 6a 03 62 00 00 00 00 01 03 03 07");
    for (int i = 0; i < 200; ++i) tcp.push_back(static_cast<uint8_t>("GET /index.html HTTP/1.1\r\n"[i % 26]));
    set.push_back(tcp);
    // UDP DNS query.
    set.push_back(Hex("45 00 00 3c 00 01 00 00 40 11 00 00 c0 00 02 01 c6 33 64 07 "
                      "c3 50 00 35 00 28 00 00 12 34 01 00 00 01 00 00 00 00 00 00 "
                      "07 65 78 61 6d 70 6c 65 03 63 6f 6d 00 00 01 00 01"));
    // ICMP port unreachable carrying the IP header and 8 bytes of a UDP datagram.
    set.push_back(Hex("45 c0 00 38 00 02 00 00 40 01 00 00 c6 33 64 07 c0 00 02 01 "
                      "03 03 00 00 00 00 00 00 "
                      "45 00 00 3c 00 01 00 00 40 11 00 00 c0 00 02 01 c6 33 64 07 "
                      "c3 50 17 70 00 28 00 00"));
    // IGMPv2 membership report.
    set.push_back(Hex("46 00 00 20 00 03 00 00 01 02 00 00 c0 00 02 01 e0 00 00 fb 94 04 00 00 "
                      "16 00 fa 04 e0 00 00 fb"));
    return set;
}

const std::vector<std::vector<uint8_t>>& Set()
{
    static const auto set = MixedSet();
    return set;
}

PacketRecord RecordOf(const std::vector<uint8_t>& bytes, float time)
{
    return PacketRecord{bytes.data(), static_cast<int32_t>(bytes.size()), time};
}

void SummaryLines(benchmark::State& state)
{
    LineList list;
    int32_t index = 0;
    for (auto _ : state) {
        for (const auto& p : Set()) AddSummaryLine(list, RecordOf(p, 1.5f), index++);
        if (list.m_lines.size() > 4096) list.m_lines.clear();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Set().size()));
}
BENCHMARK(SummaryLines);

void DetailTrees(benchmark::State& state)
{
    DetailTree tree;
    for (auto _ : state) {
        for (const auto& p : Set()) {
            tree.Clear();
            const PacketRecord r = RecordOf(p, 1.5f);
            AddPacketDetail(tree, r, AddSummaryLine(tree, r, 42));
            benchmark::DoNotOptimize(tree.Size());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Set().size()));
}
BENCHMARK(DetailTrees);

// The packet list of a full capture: 8096 summary lines into an emptied list.
void FullCaptureSummaries(benchmark::State& state)
{
    constexpr int PACKETS = 8096;
    LineList list;
    list.m_lines.reserve(PACKETS);
    for (auto _ : state) {
        list.m_lines.clear();
        for (int i = 0; i < PACKETS; ++i)
            AddSummaryLine(list, RecordOf(Set()[static_cast<size_t>(i) % Set().size()], 0.001f * i), i);
        benchmark::DoNotOptimize(list.m_lines.data());
    }
    state.SetItemsProcessed(state.iterations() * PACKETS);
}
BENCHMARK(FullCaptureSummaries)->Unit(benchmark::kMillisecond);

int WritePcap(const char* path, int count)
{
    std::vector<PacketRecord> records;
    for (int i = 0; i < count; ++i) {
        const auto& p = Set()[static_cast<size_t>(i) % Set().size()];
        records.push_back(PacketRecord{p.data(), static_cast<int32_t>(p.size()), 0.0f,
                                       1000000000000LL + static_cast<int64_t>(i) * 1000000});  // 1 ms apart
    }
    std::string error;
    if (SavePackets(records.data(), count, path, &error)) return 0;
    std::fprintf(stderr, "decode: %s: %s\n", path, error.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--write-pcap") == 0)
        return WritePcap(argv[2], argc >= 4 ? std::atoi(argv[3]) : 8096);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
