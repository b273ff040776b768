// The reader against libpcap on every capture of the shared corpus, whole and cut at a few
// places: the same datagrams, byte for byte and to the nanosecond, and the same ending
// (complete, or cut short after as many datagrams). Linux only: libpcap is its peer here.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "capture_file/capture_file.h"
#include "capture_file/link_types.h"
#include "common/ip_datagram_length.h"
#include "tests/capture_file/capture_file_builder.h"

namespace kestrine {
namespace {

using namespace kestrine::test;

struct Datagrams {
    std::vector<Bytes> bytes;
    std::vector<uint64_t> arrivals;
    std::vector<bool> cutAtSnapshot;  // libpcap's only
    bool complete = false;
};

Datagrams ByLibpcap(const std::string& file)
{
    Datagrams d;
    FILE* stream = fmemopen(const_cast<char*>(file.data()), file.size(), "rb");
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* capture = pcap_fopen_offline_with_tstamp_precision(stream, PCAP_TSTAMP_PRECISION_NANO, error);
    if (!capture) {
        std::fclose(stream);
        return d;
    }
    // pcap files hold the seconds and their fraction unsigned (seconds to 2106): this
    // libpcap reads both as signed 32-bit numbers, microseconds before it scales them.
    const bool pcap = file.compare(0, 4, "\x0a\x0d\x0d\x0a") != 0;
    const bool nano = file.compare(0, 4, "\x4d\x3c\xb2\xa1") == 0 || file.compare(0, 4, "\xa1\xb2\x3c\x4d") == 0;
    pcap_pkthdr* header;
    const u_char* frame;
    int status;
    while ((status = pcap_next_ex(capture, &header, &frame)) == 1) {
        const int offset = DatagramOffset(pcap_datalink(capture), frame, header->caplen);
        if (offset < 0) continue;
        // libpcap cuts a record longer than the snapshot length to it; the reader takes it whole.
        const uint32_t captured = header->caplen - static_cast<uint32_t>(offset);
        d.bytes.emplace_back(frame + offset, frame + offset + IpDatagramLength(frame + offset, captured));
        d.cutAtSnapshot.push_back(header->caplen == static_cast<uint32_t>(pcap_snapshot(capture)));
        const long fraction = header->ts.tv_usec;  // nanoseconds here
        const uint64_t seconds =
            pcap ? static_cast<uint32_t>(header->ts.tv_sec) : static_cast<uint64_t>(header->ts.tv_sec);
        const uint64_t ns = !pcap  ? static_cast<uint64_t>(fraction)
                            : nano ? static_cast<uint32_t>(fraction)
                                   : uint64_t{static_cast<uint32_t>(fraction / 1000)} * 1000;
        d.arrivals.push_back(seconds * 1000000000 + ns);
    }
    d.complete = status == PCAP_ERROR_BREAK;
    pcap_close(capture);
    return d;
}

Datagrams Ours(const std::string& file, ReadOutcome* outcome)
{
    Datagrams d;
    std::vector<PacketRecord> records;
    *outcome = ParseCaptureFile(reinterpret_cast<const uint8_t*>(file.data()), file.size(), &records);
    for (const PacketRecord& r : records) {
        d.bytes.emplace_back(r.data, r.data + r.length);
        d.arrivals.push_back(static_cast<uint64_t>(r.arrivalNs));
    }
    d.complete = outcome->end == ReadEnd::Complete;
    return d;
}

TEST(CaptureFileCorpus, EveryFileReadsAsLibpcapReadsIt)
{
    const std::filesystem::path corpus = KESTRINE_CORPUS;
    if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no capture corpus at " << corpus;
    int files = 0, datagrams = 0, cutShort = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".pcap" && extension != ".pcapng") continue;
        ++files;
        const std::string whole = Contents(entry.path().string());
        // Whole, then cut inside its last record and at a third and two thirds of it.
        for (const size_t size : {whole.size(), whole.size() - 1, whole.size() / 3 + 1, whole.size() * 2 / 3}) {
            const std::string file = whole.substr(0, size);
            ReadOutcome outcome;
            Datagrams ours = Ours(file, &outcome);
            const Datagrams theirs = ByLibpcap(file);
            const std::string where =
                entry.path().filename().string() + " cut to " + std::to_string(size) + ": " + outcome.reason;
            ASSERT_EQ(ours.bytes.size(), theirs.bytes.size()) << where;
            const std::vector<Bytes> taken = ours.bytes;
            for (size_t i = 0; i < ours.bytes.size(); ++i) {
                if (theirs.cutAtSnapshot[i]) {
                    ASSERT_GE(ours.bytes[i].size(), theirs.bytes[i].size()) << where << ", datagram " << i;
                    ours.bytes[i].resize(theirs.bytes[i].size());
                }
                ASSERT_EQ(ours.bytes[i], theirs.bytes[i]) << where << ", datagram " << i;
                ASSERT_EQ(ours.arrivals[i], theirs.arrivals[i]) << where << ", datagram " << i;
            }
            ASSERT_EQ(ours.complete, theirs.complete) << where;
            if (size == whole.size()) {
                datagrams += static_cast<int>(ours.bytes.size());
                cutShort += outcome.end == ReadEnd::CutShort;
                // Streamed from the file, as kestrine-dump reads it: the same again.
                std::vector<Bytes> streamed;
                const ReadOutcome again =
                    ForEachDatagram(entry.path().string().c_str(), [&](const PacketRecord& r, int64_t) {
                        streamed.emplace_back(r.data, r.data + r.length);
                        return true;
                    });
                EXPECT_EQ(streamed, taken) << where;
                EXPECT_EQ(again.end, outcome.end) << where;
            }
        }
    }
    EXPECT_GT(files, 0);
    std::printf("%d capture files, %d datagrams, %d cut short, all as libpcap reads them\n", files, datagrams,
                cutShort);
}

// Two datagrams of the corpus whose frames hold more than the datagram or more than the
// snapshot length: the record is the datagram, whole.
TEST(CaptureFileCorpus, DatagramsAreTakenWholeWithoutLinkPadding)
{
    const std::filesystem::path corpus = KESTRINE_CORPUS;
    if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no capture corpus at " << corpus;
    const struct {
        const char* file;
        size_t index;
        int32_t length;
    } cases[] = {
        {"IGMP_V2.pcap", 0, 28},                     // in a frame padded to 60 bytes
        {"pim-packet-assortment.pcap", 57, 65535},  // in a frame longer than the snapshot length
    };
    for (const auto& c : cases) {
        const std::string bytes = Contents((corpus / c.file).string());
        std::vector<PacketRecord> records;
        ParseCaptureFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &records);
        ASSERT_GT(records.size(), c.index) << c.file;
        EXPECT_EQ(records[c.index].length, c.length) << c.file;
    }
}

}  // namespace
}  // namespace kestrine
