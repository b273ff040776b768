// Capture files: which frames become records, their bytes and times; and kestrine-dump's
// output and exit codes on them.
#include "capture_file.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kestrine {
namespace {

using Bytes = std::vector<uint8_t>;

struct Frame {
    Bytes bytes;
    long seconds;
    long fraction;  // in the file's precision
};

std::string TempPath(const char* name) { return std::string(::testing::TempDir()) + name + std::to_string(getpid()); }

std::string Write(const char* name, int linkType, const std::vector<Frame>& frames, bool nano = false)
{
    const std::string path = TempPath(name);
    pcap_t* dead = pcap_open_dead_with_tstamp_precision(linkType, 65535,
                                                        nano ? PCAP_TSTAMP_PRECISION_NANO : PCAP_TSTAMP_PRECISION_MICRO);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    for (const Frame& f : frames) {
        pcap_pkthdr header{};
        header.ts.tv_sec = f.seconds;
        header.ts.tv_usec = f.fraction;
        header.caplen = header.len = static_cast<bpf_u_int32>(f.bytes.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, f.bytes.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return path;
}

Bytes Datagram(uint8_t marker)
{
    Bytes d = {0x45, 0, 0, 28, 0, 0, 0, 0, 64, 17, 0, 0, 192, 0, 2, 1, 198, 51, 100, 7,
               0, 53, 4, 1, 0, 8, 0, marker};
    return d;
}

Bytes Prefix(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

struct Taken {
    std::vector<Bytes> records;
    std::vector<float> times;
    std::vector<int> indexes;
};

Taken Read(const std::string& path)
{
    Taken t;
    std::string error;
    EXPECT_TRUE(ForEachDatagram(
        path.c_str(),
        [&](const PacketRecord& r, int32_t index) {
            t.records.emplace_back(r.data, r.data + r.length);
            t.times.push_back(r.timestamp);
            t.indexes.push_back(index);
        },
        &error))
        << error;
    return t;
}

TEST(CaptureFile, EthernetWithAndWithoutVlanTag)
{
    const Bytes mac(12, 0x11);
    const auto path = Write("eth", DLT_EN10MB,
                            {{Prefix(Prefix(mac, {0x08, 0x00}), Datagram(1)), 100, 0},
                             {Prefix(Prefix(mac, {0x86, 0xdd}), Datagram(2)), 100, 1},          // IPv6: skipped
                             {Prefix(Prefix(mac, {0x81, 0x00, 0x00, 0x05, 0x08, 0x00}), Datagram(3)), 100, 2},
                             {Prefix(mac, {0x08, 0x00}), 100, 3},                               // nothing after it
                             {Prefix(Prefix(mac, {0x08, 0x06}), Datagram(4)), 100, 4}});         // ARP: skipped
    const Taken t = Read(path);
    ASSERT_EQ(t.records.size(), 2u);
    EXPECT_EQ(t.records[0], Datagram(1));
    EXPECT_EQ(t.records[1], Datagram(3));
    EXPECT_EQ(t.indexes, (std::vector<int>{0, 1}));
    unlink(path.c_str());
}

TEST(CaptureFile, CookedRawAndLoopbackFrames)
{
    Bytes sll(16, 0);
    sll[14] = 0x08;
    Bytes sll2(20, 0);
    sll2[0] = 0x08;
    const struct {
        int link;
        Bytes frame;
    } cases[] = {
        {DLT_LINUX_SLL, Prefix(sll, Datagram(5))},
        {276, Prefix(sll2, Datagram(6))},
        {DLT_NULL, Prefix({2, 0, 0, 0}, Datagram(7))},
        {DLT_NULL, Prefix({0, 0, 0, 2}, Datagram(8))},
        {DLT_LOOP, Prefix({0, 0, 0, 2}, Datagram(9))},
        {DLT_RAW, Datagram(10)},
        {228, Datagram(11)},
    };
    for (const auto& c : cases) {
        const auto path = Write("link", c.link, {{c.frame, 1, 0}});
        const Taken t = Read(path);
        ASSERT_EQ(t.records.size(), 1u) << c.link;
        EXPECT_EQ(t.records[0].back(), c.frame.back()) << c.link;
        EXPECT_EQ(t.records[0].size(), Datagram(0).size()) << c.link;
        unlink(path.c_str());
    }
    // Skipped: family 24 (IPv6) on null, a raw IPv6 frame, an unknown link type.
    EXPECT_TRUE(Read(Write("null6", DLT_NULL, {{Prefix({24, 0, 0, 0}, Datagram(1)), 1, 0}})).records.empty());
    Bytes v6 = Datagram(1);
    v6[0] = 0x60;
    EXPECT_TRUE(Read(Write("raw6", DLT_RAW, {{v6, 1, 0}})).records.empty());
    EXPECT_TRUE(Read(Write("wifi", DLT_IEEE802_11, {{Datagram(1), 1, 0}})).records.empty());
}

TEST(CaptureFile, TimesCountFromTheFirstTakenFrame)
{
    Bytes v6 = Datagram(1);
    v6[0] = 0x60;
    const auto micro = Write("micro", DLT_RAW, {{v6, 5, 0}, {Datagram(1), 10, 999999}, {Datagram(2), 12, 250000}});
    const Taken a = Read(micro);
    ASSERT_EQ(a.times.size(), 2u);
    EXPECT_EQ(a.times[0], 0.0f);
    EXPECT_EQ(a.times[1], static_cast<float>(2.0 + (250000.0 - 999999.0) / 1e6));

    const auto nano = Write("nano", DLT_RAW, {{Datagram(1), 10, 1}, {Datagram(2), 10, 500000001}}, true);
    const Taken b = Read(nano);
    ASSERT_EQ(b.times.size(), 2u);
    EXPECT_EQ(b.times[1], 0.5f);
}

TEST(CaptureFile, UnreadableFileIsAnError)
{
    std::string error;
    EXPECT_FALSE(ForEachDatagram("/nonexistent/file.pcap", [](const PacketRecord&, int32_t) {}, &error));
    EXPECT_FALSE(error.empty());
}

// Runs kestrine-dump; its exit status and standard output.
int Dump(const std::string& arguments, std::string* out)
{
    const std::string command = std::string(KESTRINE_DUMP) + " " + arguments + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    char chunk[4096];
    size_t n;
    out->clear();
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out->append(chunk, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DumpTool, TreeAndSummaryOutput)
{
    Bytes udp = Datagram(0x41);
    const auto path = Write("dump", DLT_RAW, {{udp, 3, 0}, {Bytes(udp.begin(), udp.begin() + 12), 3, 500000}});
    std::string out;
    ASSERT_EQ(Dump("--summary " + path, &out), 0);
    EXPECT_EQ(out,
              "Index    Time-Stamp  Size  Proto  Src IP Address   Dst IP Address    Information\n"
              "    0      0.000000    28  UDP    192.0.2.1        198.51.100.7      DNS            \n"
              "    1      0.500000    12  UDP    ?                ?                                \n");

    ASSERT_EQ(Dump(path, &out), 0);
    EXPECT_EQ(out.substr(0, out.find("  Ip Header\n")),
              "    0      0.000000    28  UDP    192.0.2.1        198.51.100.7      DNS            \n");
    EXPECT_NE(out.find("  UDP Header\n    Src Port  0x0035 (53)\n    Dst Port  0x0401 (1025)  \n"), std::string::npos);
    EXPECT_NE(out.find("    1      0.500000    12  UDP    ?                ?                                \n"
                       "  Data: 12 bytes\n"
                       "    45 00 00 1c 00 00 00 00 40 11 00 00"),
              std::string::npos);
    unlink(path.c_str());
}

TEST(DumpTool, ExitStatuses)
{
    std::string out;
    EXPECT_EQ(Dump("", &out), 2);
    EXPECT_EQ(Dump("--bogus x.pcap", &out), 2);
    EXPECT_EQ(Dump("/nonexistent/file.pcap", &out), 1);
    const auto empty = Write("empty", DLT_EN10MB, {});
    EXPECT_EQ(Dump(empty, &out), 0);
    EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace kestrine
