// The detail walk: section order, enclosed datagrams, payload dumps and the four guards.
#include "decode/packet_detail.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "decode/section_states.h"
#include "tests/decode/decode_test_util.h"

namespace kestrine {
namespace {

using testing::Cat;
using testing::Detail;
using testing::Hex;
using testing::Ip;
using testing::Record;
using testing::Render;

// The section lines directly under R, in order.
std::vector<std::string> Sections(const std::vector<uint8_t>& bytes, DetailTree* out = nullptr)
{
    DetailTree local;
    DetailTree& tree = out ? *out : local;
    const NodeId root = tree.InsertLine("R", NO_NODE);
    AddPacketDetail(tree, Record(bytes), root);
    std::vector<std::string> lines;
    for (NodeId n : tree.Children(root)) lines.emplace_back(tree.Text(n));
    return lines;
}

using Lines = std::vector<std::string>;

std::vector<uint8_t> Bytes(size_t n, uint8_t fill = 0x41) { return std::vector<uint8_t>(n, fill); }

TEST(PayloadDump, LinesAreHexAndText)
{
    DetailTree tree;
    const auto hello = Hex("48 65 6c 6c 6f 20 66 72 6f 6d 20 68 65 72 65 0a 61 62 00");
    AddPayloadDump(tree, PacketCursor(hello.data(), 19), 19, NO_NODE);
    EXPECT_EQ(Render(tree), "Data: 19 bytes\n"
                            "  48 65 6c 6c 6f 20 66 72 6f 6d 20 68 65 72 65 0a  Hello from here.\n"
                            "  61 62 00" + std::string(41, ' ') + "ab." + std::string(13, ' ') + "\n");
    EXPECT_EQ(tree.Tag(0), PayloadSection);
    EXPECT_TRUE(tree.Expanded(0));
}

TEST(PayloadDump, EightBitTextColumn)
{
    std::vector<uint8_t> bytes;
    for (int b : {0x00, 0x1f, 0x20, 0x7e, 0x7f, 0x80, 0xa0, 0xa1, 0xe9, 0xff}) bytes.push_back(static_cast<uint8_t>(b));
    DetailTree tree;
    AddPayloadDump(tree, PacketCursor(bytes.data(), 10), 10, NO_NODE);
    const std::string_view line = tree.Text(1);
    ASSERT_EQ(line.size(), 65u);
    EXPECT_EQ(line.substr(49, 10), std::string("..\x20~...\xa1\xe9\xff"));
}

TEST(PayloadDump, NegativeLengthReportsAtTopLevelAndStillApplies)
{
    DetailTree tree;
    const NodeId root = tree.InsertLine("R", NO_NODE);
    const auto bytes = Bytes(4);
    AddPayloadDump(tree, PacketCursor(bytes.data(), 4).At(24), -20, root);
    EXPECT_EQ(Render(tree), "R\n  Data: -20 bytes\nCaught Exception[3]::malformed data? aborting...\n");
    EXPECT_TRUE(tree.Expanded(1));
}

// A dump line built byte by byte, straight from its format.
std::string ReferenceDumpLine(const uint8_t* bytes, int count)
{
    std::string hex, text;
    for (int i = 0; i < count; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02x ", bytes[i]);
        hex += pair;
        const uint8_t b = bytes[i];
        text += (b >= 0x20 && b <= 0x7e) || b >= 0xa1 ? static_cast<char>(b) : '.';
    }
    char line[80];
    const int n = std::snprintf(line, sizeof line, "%-48.48s %-16.16s", hex.c_str(), text.c_str());
    return std::string(line, static_cast<size_t>(n));
}

// The dump lines of bytes, from AddPayloadDump and from the reference.
void ExpectDumpMatchesReference(const std::vector<uint8_t>& bytes)
{
    const auto length = static_cast<int32_t>(bytes.size());
    DetailTree tree;
    AddPayloadDump(tree, PacketCursor(bytes.data(), length), length, NO_NODE);
    const auto lines = tree.Children(0);
    ASSERT_EQ(lines.size(), (bytes.size() + 15) / 16);
    for (size_t l = 0; l < lines.size(); ++l) {
        const int count = static_cast<int>(std::min<size_t>(16, bytes.size() - 16 * l));
        EXPECT_EQ(tree.Text(lines[l]), ReferenceDumpLine(bytes.data() + 16 * l, count)) << "line " << l;
    }
}

TEST(PayloadDump, EveryByteValueMatchesTheReference)
{
    // Each value in each column of a whole line.
    for (int shift = 0; shift < 16; ++shift) {
        std::vector<uint8_t> bytes(256);
        for (int i = 0; i < 256; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i + shift);
        ExpectDumpMatchesReference(bytes);
    }
}

TEST(PayloadDump, EveryRemainderMatchesTheReference)
{
    // A whole line and a remainder of 1..15 bytes; each value in each column of the remainder.
    for (int rest = 1; rest < 16; ++rest) {
        for (int start = 0; start < 256; ++start) {
            std::vector<uint8_t> bytes(static_cast<size_t>(16 + rest));
            for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(start + 7 * static_cast<int>(i));
            ExpectDumpMatchesReference(bytes);
        }
    }
}

TEST(PayloadDump, CutGroupStopsBeforeItsLine)
{
    // Captured bytes end inside the third group, whole or remainder: two lines, then guard 3.
    for (int32_t length : {40, 47, 48, 60}) {
        const auto bytes = Bytes(36);
        DetailTree tree;
        const NodeId root = tree.InsertLine("R", NO_NODE);
        AddPayloadDump(tree, PacketCursor(bytes.data(), 36), length, root);
        EXPECT_EQ(tree.Children(1).size(), 2u) << length;
        EXPECT_EQ(tree.Text(tree.Children(NO_NODE).back()), "Caught Exception[3]::malformed data? aborting...") << length;
    }
}

TEST(PacketDetail, ShortRecordsAreDumpedWhole)
{
    EXPECT_EQ(Sections(Bytes(19)), (Lines{"Data: 19 bytes"}));
    DetailTree tree;
    Sections(Bytes(19), &tree);
    EXPECT_EQ(tree.Children(1).size(), 2u);
    EXPECT_EQ(Sections({}), (Lines{"Data: 0 bytes"}));
    EXPECT_EQ(Sections(Ip(6)), (Lines{"Ip Header", "Data: 0 bytes"}));
    EXPECT_EQ(Sections(Cat(Ip(17), Bytes(7))), (Lines{"Ip Header", "Data: 7 bytes"}));
}

TEST(PacketDetail, TransportSectionsAndDump)
{
    const auto tcp = Hex("04 01 00 50 00 00 00 01 00 00 00 02 50 18 20 00 00 00 00 00");
    DetailTree tree;
    EXPECT_EQ(Sections(Cat(Cat(Ip(6), tcp), Bytes(100)), &tree), (Lines{"Ip Header", "TCP Header", "Data: 100 bytes"}));
    EXPECT_EQ(tree.Children(tree.Children(0)[2]).size(), 7u);
    EXPECT_EQ(Sections(Cat(Ip(17), Hex("04 01 00 35 00 08 00 00"))), (Lines{"Ip Header", "UDP Header"}));
    EXPECT_EQ(Sections(Cat(Ip(2), Hex("16 00 fa 04 e0 00 00 fb 01"))), (Lines{"Ip Header", "IGMP Header", "Data: 1 bytes"}));
    EXPECT_EQ(Sections(Cat(Ip(47), Bytes(64))), (Lines{"Ip Header"}));
    EXPECT_EQ(Sections(Cat(Ip(1), Cat(Hex("08 00 4d 5a 02 00 0b 00"), Bytes(32)))),
              (Lines{"Ip Header", "ICMP Header   Echo request", "Data: 32 bytes"}));
}

TEST(PacketDetail, IpOptionsAreSkipped)
{
    auto ip = Cat(Ip(17, 0x46), Hex("01 01 01 01"));
    EXPECT_EQ(Sections(Cat(ip, Hex("00 35 04 01 00 0a 00 00 aa bb"))), (Lines{"Ip Header", "UDP Header", "Data: 2 bytes"}));
}

TEST(PacketDetail, EchoReplyDataIsDumpedNotDecoded)
{
    const auto reply = Cat(Ip(1), Cat(Hex("00 00 55 aa 00 01 00 01"), Cat(Ip(6), Bytes(12))));
    EXPECT_EQ(Sections(reply), (Lines{"Ip Header", "ICMP Header   Echo Reply", "Data: 32 bytes"}));
}

TEST(PacketDetail, ErrorMessagesDecodeTheEnclosedDatagram)
{
    const auto unreachable =
        Cat(Ip(1), Cat(Hex("03 03 00 00 00 00 00 00"), Cat(Ip(17), Hex("04 01 00 35 00 08 00 00"))));
    EXPECT_EQ(Sections(unreachable),
              (Lines{"Ip Header", "ICMP Header   Destination Unreachable", "Ip Header", "UDP Header"}));
    for (uint8_t type : {4, 5, 11, 12}) {
        auto m = unreachable;
        m[20] = type;
        EXPECT_EQ(Sections(m).size(), 4u) << int(type);
    }
    // The enclosed datagram's own faults are caught by its own guards.
    const auto cutInner = Cat(Ip(1), Cat(Hex("0b 00 00 00 00 00 00 00"), Cat(Ip(6), Bytes(4))));
    EXPECT_EQ(Sections(cutInner), (Lines{"Ip Header", "ICMP Header   Time Exceeded", "Ip Header", "Data: 4 bytes"}));
    // A short rest after an error header is dumped as a record below 20 bytes.
    EXPECT_EQ(Sections(Cat(Ip(1), Cat(Hex("03 00 00 00 00 00 00 00"), Bytes(5)))),
              (Lines{"Ip Header", "ICMP Header   Destination Unreachable", "Data: 5 bytes"}));
}

// A later fragment (offset not 0) carries bytes from the middle of its datagram: the IP
// header, then a dump of the rest, never a transport header read from those bytes.
TEST(PacketDetail, LaterFragmentsAreDumpedNotDecoded)
{
    const auto payload = Hex("64 00 ec 9b 59 00 00 00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee");
    for (uint8_t protocol : {1, 2, 6, 17}) {
        auto later = Cat(Ip(protocol), payload);
        later[6] = 0x00;  // offset 0x00b9 (1480 bytes), no flags
        later[7] = 0xb9;
        EXPECT_EQ(Sections(later), (Lines{"Ip Header", "Data: 22 bytes"})) << int(protocol);
        later[6] = 0x20;  // More Fragments as well, offset 8 bytes
        later[7] = 0x01;
        EXPECT_EQ(Sections(later), (Lines{"Ip Header", "Data: 22 bytes"})) << int(protocol);
        // Nothing after the header: no dump at all.
        auto bare = Ip(protocol);
        bare[7] = 0x01;
        EXPECT_EQ(Sections(bare), (Lines{"Ip Header"})) << int(protocol);
    }
    // A first fragment (offset 0, More Fragments set) is decoded as before.
    auto first = Cat(Ip(17), Hex("04 01 00 35 00 10 00 00 aa bb"));
    first[6] = 0x20;
    first[7] = 0x00;
    EXPECT_EQ(Sections(first), (Lines{"Ip Header", "UDP Header", "Data: 2 bytes"}));
    // Other protocols show the IP header only, fragment or not.
    auto other = Cat(Ip(47), payload);
    other[7] = 0x01;
    EXPECT_EQ(Sections(other), (Lines{"Ip Header"}));

    // The same holds for the datagram enclosed in an ICMP error.
    auto inner = Cat(Ip(17), Hex("04 01 00 35 00 08 00 00"));
    inner[7] = 0x10;
    EXPECT_EQ(Sections(Cat(Ip(1), Cat(Hex("03 03 00 00 00 00 00 00"), inner))),
              (Lines{"Ip Header", "ICMP Header   Destination Unreachable", "Ip Header", "Data: 8 bytes"}));
}

TEST(PacketDetail, DeepNestingRunsAsALoop)
{
    std::vector<uint8_t> bytes;
    constexpr int LEVELS = 5000;
    for (int i = 0; i < LEVELS; ++i) bytes = Cat(bytes, Cat(Ip(1), Hex("03 01 00 00 00 00 00 00")));
    DetailTree tree;
    const auto sections = Sections(bytes, &tree);
    // Each level adds its IP and ICMP sections; the empty rest after the last is a short record.
    EXPECT_EQ(sections.size(), 2u * LEVELS + 1);
    EXPECT_EQ(sections[2 * LEVELS - 1], "ICMP Header   Destination Unreachable");
    EXPECT_EQ(sections.back(), "Data: 0 bytes");
}

TEST(PacketDetail, HeaderLengthNibbleZeroReadsTheIpHeaderAgain)
{
    // Nibble 0, protocol 17: the UDP "header" is the IP header's first 8 bytes.
    auto bytes = Ip(17, 0x40);
    DetailTree tree;
    EXPECT_EQ(Sections(bytes, &tree), (Lines{"Ip Header", "UDP Header", "Data: 12 bytes"}));
    EXPECT_NE(Render(tree).find("Src Port  0x4000 (16384)"), std::string::npos);
}

TEST(PacketDetail, GuardOneForTcpFaults)
{
    auto offset15 = Cat(Ip(6), Hex("04 01 00 50 00 00 00 01 00 00 00 02 f0 18 20 00 00 00 00 00"));
    DetailTree tree;
    EXPECT_EQ(Sections(offset15, &tree),
              (Lines{"Ip Header", "TCP Header", "Caught Exception[1]::malformed packet? aborting..."}));
    EXPECT_EQ(tree.Children(tree.Children(0)[1]).size(), 9u);

    auto offset3 = offset15;
    offset3[32] = 0x30;
    EXPECT_EQ(Sections(offset3).back(), "Caught Exception[1]::malformed packet? aborting...");

    // IP header length beyond the record for UDP: the section node stands, then guard 1.
    auto longIp = Cat(Ip(17, 0x4f), Bytes(20));
    EXPECT_EQ(Sections(longIp), (Lines{"Ip Header", "UDP Header", "Caught Exception[1]::malformed packet? aborting..."}));
}

TEST(PacketDetail, GuardFiveForAnIcmpHeaderPastTheEnd)
{
    auto bytes = Cat(Ip(1, 0x4f), Bytes(20));  // 40 bytes, header claims 60
    DetailTree tree;
    const NodeId root = tree.InsertLine("R", NO_NODE);
    AddPacketDetail(tree, Record(bytes), root);
    std::vector<std::string> top;
    for (NodeId n : tree.Children(NO_NODE)) top.emplace_back(tree.Text(n));
    EXPECT_EQ(top, (Lines{"R", "Caught Exception[3]::malformed data? aborting..."}));
    std::vector<std::string> under;
    for (NodeId n : tree.Children(root)) under.emplace_back(tree.Text(n));
    EXPECT_EQ(under, (Lines{"Ip Header", "Caught Exception[5]::malformed packet? aborting...", "Data: -20 bytes"}));
}

TEST(PacketDetail, CutSectionsGetNoExpandAction)
{
    ResetSectionStates();
    RememberSectionState(TcpHeaderSection, EXPAND_EXPAND);
    RememberSectionState(IpHeaderSection, EXPAND_EXPAND);
    auto offset15 = Cat(Ip(6), Hex("04 01 00 50 00 00 00 01 00 00 00 02 f0 18 20 00 00 00 00 00"));
    DetailTree tree;
    Sections(offset15, &tree);
    EXPECT_TRUE(tree.Expanded(1));   // Ip Header completed
    EXPECT_FALSE(tree.Expanded(tree.Children(0)[1]));  // TCP Header cut short
    ResetSectionStates();
}

TEST(PacketDetail, SameInputSameTree)
{
    const auto bytes = Cat(Ip(6), Hex("04 01 00 50 00 00 00 01 00 00 00 02 70 18 20 00 00 00 00 00 "
                                      "02 04 05 b4 01 03 03 07 41 42 43"));
    EXPECT_EQ(Detail(bytes), Detail(bytes));
    EXPECT_NE(Detail(bytes).find("      what?\n"), std::string::npos);
}

}  // namespace
}  // namespace kestrine
