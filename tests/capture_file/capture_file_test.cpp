// The capture-file reader on files made byte by byte: which frames become records, their
// bytes and times, how reading ends and what it says. Every file is read whole and in
// chunks of several sizes, which must agree. Portable: also runs in the Windows build.
#include "capture_file/capture_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "capture_file/capture_parser.h"
#include "tests/capture_file/capture_file_builder.h"

namespace kestrine {
namespace {

using namespace kestrine::test;

struct Taken {
    std::vector<Bytes> datagrams;
    std::vector<int64_t> arrivals;
    std::vector<float> times;
    ReadOutcome outcome;

    void Add(const PacketRecord& r)
    {
        datagrams.emplace_back(r.data, r.data + r.length);
        arrivals.push_back(r.arrivalNs);
        times.push_back(r.timestamp);
    }
    bool operator==(const Taken& o) const
    {
        return datagrams == o.datagrams && arrivals == o.arrivals && times == o.times && outcome.end == o.outcome.end &&
               outcome.datagrams == o.outcome.datagrams && outcome.frames == o.outcome.frames &&
               outcome.reason == o.outcome.reason;
    }
};

// The datagrams of file, read whole and streamed in pieces of several sizes, which must
// agree; the read must end as `end`, with a reason unless complete.
Taken Read(const Bytes& file, ReadEnd end = ReadEnd::Complete)
{
    Taken whole;
    std::vector<PacketRecord> records;
    whole.outcome = ParseCaptureFile(file.data(), file.size(), &records);
    for (const PacketRecord& r : records) {
        EXPECT_TRUE(r.data >= file.data() && r.length > 0 && r.data + r.length <= file.data() + file.size());
        whole.Add(r);
    }
    EXPECT_EQ(whole.outcome.end, end) << whole.outcome.reason;
    EXPECT_EQ(whole.outcome.datagrams, static_cast<int64_t>(records.size()));
    EXPECT_EQ(whole.outcome.reason.empty(), end == ReadEnd::Complete) << whole.outcome.reason;
    for (const size_t piece : {size_t{1}, size_t{5}, size_t{64}, size_t{1} << 20}) {
        Taken streamed;
        size_t at = 0;
        int opened = 0;
        const auto read = [&](uint8_t* into, size_t most, std::string*) {
            const size_t n = std::min({most, piece, file.size() - at});
            std::copy_n(file.begin() + static_cast<ptrdiff_t>(at), n, into);
            at += n;
            return n;
        };
        const auto visit = [&](const PacketRecord& r, int64_t index) {
            EXPECT_EQ(opened, 1);
            EXPECT_EQ(index, static_cast<int64_t>(streamed.datagrams.size()));
            streamed.Add(r);
            return true;
        };
        streamed.outcome = StreamDatagrams(
            read, visit, [&] { ++opened; }, piece);
        EXPECT_TRUE(streamed == whole) << "pieces of " << piece << ": " << streamed.outcome.reason;
        EXPECT_EQ(opened, end == ReadEnd::CannotOpen ? 0 : 1);
    }
    return whole;
}

std::string Reason(const Bytes& file, ReadEnd end) { return Read(file, end).outcome.reason; }

// A raw IPv4 pcap of count datagrams marked 0, 1, ..., a millisecond apart: 24 header bytes,
// then 44 bytes a record.
Bytes Datagrams(int count)
{
    std::vector<PcapFrame> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back({Datagram(static_cast<uint8_t>(i)), 1, static_cast<uint32_t>(i) * 1000});
    return Pcap(101, frames);
}

Bytes Head(const Bytes& bytes, size_t size)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size));
}

Bytes Ethernet(const Bytes& ip) { return Prefix(Prefix(Bytes(12, 0x11), {0x08, 0x00}), ip); }

TEST(CaptureFile, LinkTypes)
{
    const Bytes mac(12, 0x11);
    const Taken eth = Read(Pcap(1, {{Ethernet(Datagram(1))},
                                    {Prefix(Prefix(mac, {0x86, 0xdd}), Datagram(2))},  // IPv6: skipped
                                    {Prefix(Prefix(mac, {0x81, 0x00, 0x00, 0x05, 0x08, 0x00}), Datagram(3))},
                                    {Prefix(mac, {0x08, 0x00})},                          // nothing after it
                                    {Prefix(Prefix(mac, {0x08, 0x06}), Datagram(4))}}));  // ARP: skipped
    EXPECT_EQ(eth.datagrams, (std::vector<Bytes>{Datagram(1), Datagram(3)}));
    EXPECT_EQ(eth.outcome.frames, 5);  // every frame counts, IPv4 or not

    Bytes sll(16, 0), sll2(20, 0), v6 = Datagram(1);
    sll[14] = sll2[0] = 0x08;
    v6[0] = 0x60;
    const struct {
        uint32_t link;
        Bytes frame;
        bool taken;
    } cases[] = {
        {113, Prefix(sll, Datagram(5)), true},
        {276, Prefix(sll2, Datagram(6)), true},
        {0, Prefix({2, 0, 0, 0}, Datagram(7)), true},
        {0, Prefix({0, 0, 0, 2}, Datagram(8)), true},
        {108, Prefix({0, 0, 0, 2}, Datagram(9)), true},
        {101, Datagram(10), true},
        {12, Datagram(11), true},
        {228, Datagram(12), true},
        // The link type in the low 16 bits; the high ones may give a frame check sequence.
        {0x30000000 | 101, Datagram(13), true},
        {0, Prefix({24, 0, 0, 0}, Datagram(1)), false},  // IPv6 on null
        {101, v6, false},
        {105, Datagram(1), false},  // 802.11
        // Stacked 802.1ad and 802.1Q tags, MPLS labels, a PPPoE session behind Ethernet.
        {1, Prefix(Prefix(mac, {0x88, 0xa8, 0, 1, 0x81, 0x00, 0, 2, 0x08, 0x00}), Datagram(14)), true},
        {1, Prefix(Prefix(mac, {0x88, 0x47, 0, 1, 0x00, 64, 0, 2, 0x01, 64}), Datagram(15)), true},
        {1, Prefix(Prefix(mac, {0x88, 0x47, 0, 1, 0x00, 64}), Datagram(1)), false},  // no bottom label
        {1, Prefix(Prefix(mac, {0x88, 0x64, 0x11, 0, 0, 1, 0, 30, 0x00, 0x21}), Datagram(16)), true},
        {1, Prefix(mac, {0x81, 0x00, 0, 1, 0x81, 0x00}), false},  // a tag cut short
        // PPP with and without address and control, with a compressed protocol; in HDLC
        // framing; Cisco HDLC; Frame Relay by NLPID and by EtherType.
        {9, Prefix({0xff, 0x03, 0x00, 0x21}, Datagram(17)), true},
        {9, Prefix({0x21}, Datagram(18)), true},
        {9, Prefix({0xff, 0x03, 0x00, 0x57}, Datagram(1)), false},  // IPv6
        {50, Prefix({0x0f, 0x00, 0x08, 0x00}, Datagram(19)), true},
        {104, Prefix({0x0f, 0x00, 0x08, 0x00}, Datagram(20)), true},
        {107, Prefix({0x18, 0x41, 0x03, 0xcc}, Datagram(21)), true},
        {107, Prefix({0x18, 0x41, 0x08, 0x00}, Datagram(22)), true},
        {107, {0x18, 0x40, 0x40}, false},  // an address without its last byte
        // Solaris ipnet, Linux netfilter log (its payload item), IP over InfiniBand.
        {226, Prefix(Prefix({1, 2}, Bytes(22, 0)), Datagram(23)), true},
        {239, Prefix({2, 0, 0, 0, 8, 0, 1, 0, 0, 8, 0, 0, 32, 0, 9, 0}, Datagram(24)), true},
        {242, Prefix(Prefix(Bytes(40, 0), {0x08, 0x00, 0, 0}), Datagram(25)), true},
    };
    for (const auto& c : cases) {
        const Taken t = Read(Pcap(c.link, {{c.frame}}));
        EXPECT_EQ(t.datagrams,
                  c.taken ? std::vector<Bytes>{Bytes(c.frame.end() - 28, c.frame.end())} : std::vector<Bytes>{})
            << c.link;
    }
}

TEST(CaptureFile, PcapByteOrdersResolutionsAndTimes)
{
    for (const bool big : {false, true}) {
        for (const bool nano : {false, true}) {
            const uint32_t unit = nano ? 1 : 1000;
            // Seconds are unsigned: 0xFFFFFFFF is in 2106.
            const Taken t = Read(Pcap(
                101, {{Datagram(1), 10, 250000000 / unit}, {Datagram(2), 0xFFFFFFFF, 999999999 / unit}}, {nano, big}));
            EXPECT_EQ(t.datagrams, (std::vector<Bytes>{Datagram(1), Datagram(2)}));
            EXPECT_EQ(t.arrivals,
                      (std::vector<int64_t>{10250000000, 4294967295000000000 + (nano ? 999999999 : 999999000)}));
            EXPECT_EQ(t.times[0], 0.0f);
            EXPECT_EQ(t.times[1], static_cast<float>((t.arrivals[1] - t.arrivals[0]) / 1e9));
        }
    }
    // Times count from the first taken frame, not the first frame.
    Bytes v6 = Datagram(1);
    v6[0] = 0x60;
    const Taken t = Read(Pcap(101, {{v6, 5, 0}, {Datagram(1), 10, 999999}, {Datagram(2), 12, 250000}}));
    EXPECT_EQ(t.times, (std::vector<float>{0.0f, static_cast<float>(1.250001)}));

    // A record longer than the snapshot length is taken whole; the datagram ends at its
    // total length, without the link padding after it.
    const Taken whole = Read(Pcap(101, {{Datagram(1)}}, {.snapLength = 20}));
    EXPECT_EQ(whole.datagrams, (std::vector<Bytes>{Datagram(1)}));
    Bytes padded = Prefix(Prefix(Bytes(12, 0x11), {0x08, 0x00}), Datagram(2));
    padded.resize(60);
    Bytes longer = Datagram(3);  // a total length past the bytes captured: kept as captured
    longer[3] = 40;
    Bytes headerless = Prefix(Datagram(4), Bytes(4, 0));  // a total length below its header's
    headerless[3] = 16;
    EXPECT_EQ(Read(Pcap(1, {{padded}})).datagrams, (std::vector<Bytes>{Datagram(2)}));
    EXPECT_EQ(Read(Pcap(101, {{longer}, {headerless}})).datagrams, (std::vector<Bytes>{longer, headerless}));
}

TEST(CaptureFile, PcapngSectionsInterfacesAndBlocks)
{
    Bytes sll(16, 0);
    sll[14] = 0x08;
    Pcapng file;
    file.Interface(101)                     // 0: raw IP, microseconds
        .Interface(1, 0, 12)                // 1: Ethernet, picoseconds
        .Interface(228, 0, 0x80 | 10, 100)  // 2: IPv4, 2^-10 seconds, 100 seconds on
        .Enhanced(0, 1500000, Datagram(1))  // 1.5 s
        .Enhanced(1, 2000000001999, Ethernet(Datagram(2)))
        .Block(0x0BAD, {1, 2, 3, 4})    // unknown: skipped
        .Obsolete(2, 515, Datagram(3))  // 515/1024 s, rounded down to the nanosecond
        .Simple(Datagram(4))            // no time: the frame before's
        .Section(true)                  // big-endian, interfaces anew
        .Interface(113, 20)             // cooked, snapshot length 20
        .Enhanced(0, 3000000, Prefix(sll, Datagram(5)));
    const Taken t = Read(file.bytes);
    EXPECT_EQ(t.datagrams,
              (std::vector<Bytes>{Datagram(1), Datagram(2), Datagram(3), Datagram(4), Datagram(5)}));
    EXPECT_EQ(t.arrivals, (std::vector<int64_t>{1500000000, 2000000001, 100502929687, 100502929687, 3000000000}));
    EXPECT_EQ(t.times[1], 0.500000001f);

    // A section may be all there is; simple packets before any time are at 0.
    EXPECT_TRUE(Read(Pcapng(true).bytes).datagrams.empty());
    EXPECT_EQ(Read(Pcapng().Interface(101).Simple(Datagram(1)).bytes).arrivals, std::vector<int64_t>{0});
}

TEST(CaptureFile, FilesThatCannotBeOpened)
{
    const std::string notCapture = "not a pcap or pcapng capture file";
    const std::string text = "not a capture file at all\n";
    EXPECT_EQ(Reason({}, ReadEnd::CannotOpen), "empty file");
    EXPECT_EQ(Reason(Bytes(text.begin(), text.end()), ReadEnd::CannotOpen), notCapture);
    EXPECT_EQ(Reason({0xD4, 0xC3, 0xB2}, ReadEnd::CannotOpen), notCapture);
    EXPECT_EQ(Reason(Head(Datagrams(1), 10), ReadEnd::CannotOpen),
              "the file ends inside the file header, after 10 of its 24 bytes");
    EXPECT_EQ(Reason(Pcap(1, {}, {.major = 3, .minor = 0}), ReadEnd::CannotOpen), "unsupported pcap version 3.0");
    EXPECT_EQ(Reason(Pcap(1, {}, {.minor = 5}), ReadEnd::CannotOpen), "unsupported pcap version 2.5");
    Pcapng v2;
    v2.bytes.clear();
    EXPECT_EQ(Reason(v2.Section(false, 2).bytes, ReadEnd::CannotOpen), "unsupported pcapng version 2.0");
    Bytes mark = Pcapng().bytes;
    mark[9] = 0;
    EXPECT_EQ(Reason(mark, ReadEnd::CannotOpen), notCapture);
    EXPECT_EQ(Reason(Head(mark, 20), ReadEnd::CannotOpen), notCapture);
    EXPECT_EQ(Reason(Head(Pcapng().bytes, 20), ReadEnd::CannotOpen),
              "the file ends inside the block at byte 0, after 20 of its 28 bytes");

    // A capture without records opens and is read to its end.
    EXPECT_TRUE(Read(Pcap(1, {})).datagrams.empty());
}

TEST(CaptureFile, ACutOrCorruptPcapRecordEndsTheReadAfterTheDatagramsBefore)
{
    const Bytes whole = Datagrams(5);  // the third record starts at byte 112
    const auto before = [](int n) {
        std::vector<Bytes> d;
        for (int i = 0; i < n; ++i) d.push_back(Datagram(static_cast<uint8_t>(i)));
        return d;
    };
    const auto cut = [&](size_t size) { return Read(Head(whole, size), ReadEnd::CutShort); };
    Taken t = cut(112 + 41);
    EXPECT_EQ(t.datagrams, before(2));
    EXPECT_EQ(t.outcome.reason, "the file ends inside packet 2 at byte 112, after 41 of its 44 bytes");
    EXPECT_EQ(cut(112 + 10).outcome.reason,
              "the file ends inside packet 2 at byte 112, after 10 of its 16 header bytes");

    // The captured length of the third record, little-endian at byte 112 + 8.
    const auto claim = [&](uint32_t captured) {
        Bytes b = whole;
        for (int i = 0; i < 4; ++i) b[120 + static_cast<size_t>(i)] = static_cast<uint8_t>(captured >> 8 * i);
        return Read(b, ReadEnd::CutShort);
    };
    t = claim(300000);
    EXPECT_EQ(t.datagrams, before(2));
    EXPECT_EQ(t.outcome.reason,
              "packet 2 at byte 112 is corrupt: it claims 300000 captured bytes, more than a frame may hold (262144)");
    EXPECT_EQ(claim(8192).outcome.reason, "the file ends inside packet 2 at byte 112, after 132 of its 8208 bytes");
}

TEST(CaptureFile, ACutOrCorruptPcapngBlockEndsTheReadAfterTheDatagramsBefore)
{
    const Pcapng base = Pcapng().Interface(101).Enhanced(0, 1, Datagram(1));
    const std::string at = "the block at byte " + std::to_string(base.bytes.size()) + " is corrupt: ";
    const auto read = [&](const Bytes& more) {
        const Taken t = Read(Prefix(base.bytes, more), ReadEnd::CutShort);
        EXPECT_EQ(t.datagrams, std::vector<Bytes>{Datagram(1)});
        return t.outcome.reason;
    };
    const auto block = [](Pcapng p) { return Bytes(p.bytes.begin() + 28, p.bytes.end()); };  // without the section
    Bytes packet = block(Pcapng().Enhanced(0, 2, Datagram(2)));
    EXPECT_EQ(
        read(Bytes(packet.begin(), packet.end() - 4)),
        "the file ends inside the block at byte " + std::to_string(base.bytes.size()) + ", after 56 of its 60 bytes");
    const struct {
        Bytes header;
        std::string why;
    } lengths[] = {
        {{6, 0, 0, 0, 13, 0, 0, 0}, "its length, 13, is not a multiple of 4"},
        {{6, 0, 0, 0, 8, 0, 0, 0}, "its length, 8, is less than the least a block of its type has (12)"},
        {{6, 0, 0, 0, 0, 0, 0, 2}, "its length, 33554432, is more than a block may hold (16777216)"},
    };
    for (const auto& c : lengths) EXPECT_EQ(read(Prefix(c.header, Bytes(32, 0))), at + c.why);
    packet[packet.size() - 4] = 99;
    EXPECT_EQ(read(packet), at + "the length at its end, 99, differs from the 60 at its start");
    packet = block(Pcapng().Enhanced(0, 2, Datagram(2)));
    packet[20] = 33;  // captured length
    EXPECT_EQ(read(packet), at + "its 33 captured bytes do not fit in it");
    EXPECT_EQ(read(block(Pcapng().Enhanced(3, 2, Datagram(2)))),
              at + "it refers to interface 3, but its section describes 1 interface");
    EXPECT_EQ(read(Pcapng(true).Enhanced(0, 2, Datagram(2)).bytes),  // interfaces belong to their section
              "the block at byte " + std::to_string(base.bytes.size() + 28) +
                  " is corrupt: it refers to interface 0, but its section describes no interfaces");
    EXPECT_EQ(read(block(Pcapng().Interface(101, 0, 20))),
              at + "its time resolution, 10^-20 seconds, is finer than can be read");
    EXPECT_EQ(read(block(Pcapng().Interface(101, 0, 0x80 | 64))),
              at + "its time resolution, 2^-64 seconds, is finer than can be read");
    Bytes section = Pcapng().Section(false, 2).bytes;
    EXPECT_EQ(
        read(Bytes(section.begin() + 28, section.end())),
        "the section at byte " + std::to_string(base.bytes.size()) + " has pcapng version 2.0, which is not supported");
}

TEST(CaptureFile, FilesOnDisk)
{
    const Bytes bytes = Pcapng().Interface(101).Enhanced(0, 5, Datagram(1)).Enhanced(0, 6, Datagram(2)).bytes;
    const Taken expected = Read(bytes);
    const std::string path = StoreTemp("capture-\xc3\xa9\xe2\x82\xac.pcapng", bytes);  // "é€": a UTF-8 name

    CaptureFileContents loaded = LoadCaptureFile(path);
    CaptureFileContents contents = std::move(loaded);  // records still point into the mapping moved
    ASSERT_TRUE(contents.file);
    const uint8_t* mapped = contents.file->Data();
    EXPECT_EQ(Bytes(mapped, mapped + contents.file->Size()), bytes);
    Taken whole;
    whole.outcome = contents.outcome;
    EXPECT_EQ(contents.outcome.frames, 2);
    for (const PacketRecord& r : contents.records) {
        EXPECT_TRUE(r.data >= mapped && r.data + r.length <= mapped + contents.file->Size());
        whole.Add(r);
    }
    EXPECT_TRUE(whole == expected) << whole.outcome.reason;

    Taken streamed;
    int opened = 0;
    streamed.outcome = ForEachDatagram(
        path.c_str(),
        [&](const PacketRecord& r, int64_t) {
            EXPECT_EQ(opened, 1);
            streamed.Add(r);
            return true;
        },
        [&] { ++opened; });
    EXPECT_TRUE(streamed == expected) << streamed.outcome.reason;
    const ReadOutcome stopped = ForEachDatagram(path.c_str(), [](const PacketRecord&, int64_t) { return false; });
    EXPECT_EQ(stopped.end, ReadEnd::Stopped);
    EXPECT_EQ(stopped.datagrams, 1);

    contents = {};  // Windows refuses to truncate a file while it is mapped
    Store(path, {});
    EXPECT_EQ(LoadCaptureFile(path).outcome.reason, "empty file");
    EXPECT_EQ(ForEachDatagram(path.c_str(), [](const PacketRecord&, int64_t) { return true; }).reason, "empty file");
    std::filesystem::remove(FsPath(path));

    // Missing, and a folder: not opened, with the system's reason, a folder's alike on every
    // platform.
    const std::string missing = ::testing::TempDir() + "no-such-folder/file.pcap";
    for (const std::string& name : {missing, ::testing::TempDir()}) {
        const CaptureFileContents none = LoadCaptureFile(name);
        EXPECT_EQ(none.outcome.end, ReadEnd::CannotOpen) << name;
        EXPECT_TRUE(none.records.empty());
        const ReadOutcome outcome = ForEachDatagram(name.c_str(), [](const PacketRecord&, int64_t) { return true; });
        EXPECT_EQ(outcome.end, ReadEnd::CannotOpen);
        EXPECT_EQ(outcome.reason, none.outcome.reason);
        EXPECT_FALSE(outcome.reason.empty());
    }
    EXPECT_EQ(LoadCaptureFile(missing).outcome.reason, std::strerror(ENOENT));
    EXPECT_EQ(LoadCaptureFile(::testing::TempDir()).outcome.reason, "Is a directory");
}

}  // namespace
}  // namespace kestrine
