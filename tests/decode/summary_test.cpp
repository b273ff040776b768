// Summary lines, Information column, name tables and remembered section states.
#include "decode/summary.h"

#include <gtest/gtest.h>

#include <cstring>

#include "decode/names.h"
#include "decode/section_states.h"
#include "tests/decode/decode_test_util.h"

namespace kestrine {
namespace {

using testing::Cat;
using testing::Hex;
using testing::Ip;
using testing::Record;

std::string Line(const std::vector<uint8_t>& bytes, int64_t index = 0, float time = 0.0f)
{
    LineList list;
    AddSummaryLine(list, Record(bytes, time), index);
    return list.m_lines.at(0);
}

std::string Info(const std::vector<uint8_t>& bytes)
{
    const std::string line = Line(bytes);
    return line.substr(69);  // the Information column starts after the destination
}

std::string Rtrim(std::string s)
{
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::vector<uint8_t> Tcp(uint8_t flags)
{
    auto t = Hex("04 01 00 50 00 00 00 01 00 00 00 00 50 00 20 00 00 00 00 00");
    t[13] = flags;
    return Cat(Ip(6), t);
}

std::vector<uint8_t> Udp(uint16_t source, uint16_t destination)
{
    return Cat(Ip(17), {static_cast<uint8_t>(source >> 8), static_cast<uint8_t>(source),
                        static_cast<uint8_t>(destination >> 8), static_cast<uint8_t>(destination), 0, 8, 0, 0});
}

TEST(SummaryLine, WorkedExamples)
{
    auto syn = Tcp(0x12);
    syn.resize(60, 0);
    EXPECT_EQ(Line(syn, 0, 0.5f),
              "    0      0.500000    60  TCP    192.0.2.1        198.51.100.7      < ACK SYN >    ");
    auto gre = Ip(47);
    gre.resize(40, 0);
    EXPECT_EQ(Line(gre, 7, 1.0f),
              "    7      1.000000    40  <PROTO>  192.0.2.1        198.51.100.7                     ");
    EXPECT_EQ(Line(gre, 0, 0.0f).substr(5, 14), "      0.000000");
    EXPECT_EQ(Line(gre, 123456, 0.0f).substr(0, 7), "123456 ");
}

TEST(SummaryLine, ColumnsEndUnderTheirHeadings)
{
    const std::string header = SUMMARY_COLUMN_HEADER;
    auto syn = Tcp(0x12);
    const std::string line = Line(syn, 12345, 9999.5f);
    for (const char* heading : {"Index", "Time-Stamp", "Size"}) {  // right-aligned numbers
        const size_t end = header.find(heading) + std::strlen(heading);
        EXPECT_NE(line[end - 1], ' ') << heading;
        EXPECT_EQ(line[end], ' ') << heading;
    }
    EXPECT_EQ(line.find("TCP"), header.find("Proto"));
    EXPECT_EQ(line.find("192.0.2.1"), header.find("Src IP Address"));
    EXPECT_EQ(line.find("198.51.100.7"), header.find("Dst IP Address"));
    EXPECT_EQ(line.find("< ACK SYN >"), header.find("Information"));
}

TEST(SummaryLine, TcpFlagsInformation)
{
    EXPECT_EQ(Rtrim(Info(Tcp(0x00))), "< >");
    EXPECT_EQ(Rtrim(Info(Tcp(0x3F))), "< URG ACK PSH RST SYN FIN >");
    EXPECT_EQ(Rtrim(Info(Tcp(0xC0))), "< >");  // the two top bits are not shown
    EXPECT_EQ(Rtrim(Info(Tcp(0x18))), "< ACK PSH >");
}

TEST(SummaryLine, UdpNamesDestinationFirstThenSource)
{
    EXPECT_EQ(Rtrim(Info(Udp(53, 1025))), "DNS");
    EXPECT_EQ(Rtrim(Info(Udp(1025, 137))), "NETBIOS Name Service");
    EXPECT_EQ(Rtrim(Info(Udp(137, 138))), "NETBIOS Datagram Service");
    EXPECT_EQ(Info(Udp(1025, 6000)), "Dst Port 6000  ");
    EXPECT_EQ(Rtrim(Info(Udp(40000, 65535))), "Dst Port 65535");
}

TEST(SummaryLine, ProtocolZeroIcmpAndIgmp)
{
    EXPECT_NE(Line(Ip(0)).find("  IP     192.0.2.1"), std::string::npos);
    EXPECT_EQ(Rtrim(Info(Ip(0))), "IPINFO?");
    EXPECT_EQ(Rtrim(Info(Cat(Ip(1), Hex("08 00 00 00")))), "Echo request");
    EXPECT_EQ(Rtrim(Info(Cat(Ip(1), Hex("0d")))), "Request Rimestamp");
    EXPECT_EQ(Rtrim(Info(Cat(Ip(1), Hex("13")))), "Unassigned [19]");
    EXPECT_EQ(Rtrim(Info(Cat(Ip(1), Hex("ff")))), "Unassigned [255]");
    EXPECT_EQ(Rtrim(Info(Cat(Ip(2), Hex("11")))), "MEMBERSHIP_QUERY");
    EXPECT_EQ(Rtrim(Info(Cat(Ip(2), Hex("16")))), "MEMBERSHIP_REPORT (V2)");
    EXPECT_EQ(Rtrim(Info(Cat(Ip(2), Hex("17")))), "LEAVE_GROUP");
    EXPECT_EQ(Rtrim(Info(Cat(Ip(2), Hex("2a")))), "UNUSED10");
}

TEST(SummaryLine, TransportHeaderFollowsTheLengthNibble)
{
    // Nibble 0: the "transport header" is the IP header itself; byte 0 (0x40) is the ICMP type.
    EXPECT_EQ(Rtrim(Info(Ip(1, 0x40))), "Unassigned [64]");
    // Nibble 2: UDP ports are read from IP bytes 8..11 (TTL 0x40, protocol 17, checksum 0xb1e6).
    EXPECT_EQ(Rtrim(Info(Ip(17, 0x42))), "Dst Port 45542");
}

TEST(SummaryLine, ShortRecordsReadOnlyWhatWasCaptured)
{
    // Nothing captured: every field unknown.
    EXPECT_EQ(Line({}, 3), "    3      0.000000     0  ?      ?                ?                                ");
    auto ip = Ip(6);
    // Protocol byte present, addresses cut: "?" where missing.
    EXPECT_EQ(Line(std::vector<uint8_t>(ip.begin(), ip.begin() + 14)),
              "    0      0.000000    14  TCP    ?                ?                                ");
    EXPECT_EQ(Line(std::vector<uint8_t>(ip.begin(), ip.begin() + 18)),
              "    0      0.000000    18  TCP    192.0.2.1        ?                                ");
    // TCP needs 14 transport bytes for the flags, UDP 4 for the ports, ICMP and IGMP one.
    auto tcp = Tcp(0x02);
    EXPECT_EQ(Rtrim(Info(std::vector<uint8_t>(tcp.begin(), tcp.begin() + 33))), "");
    EXPECT_EQ(Rtrim(Info(std::vector<uint8_t>(tcp.begin(), tcp.begin() + 34))), "< SYN >");
    auto udp = Udp(1, 53);
    EXPECT_EQ(Rtrim(Info(std::vector<uint8_t>(udp.begin(), udp.begin() + 23))), "");
    EXPECT_EQ(Rtrim(Info(std::vector<uint8_t>(udp.begin(), udp.begin() + 24))), "DNS");
    EXPECT_EQ(Rtrim(Info(Ip(1))), "");
    EXPECT_EQ(Rtrim(Info(Ip(0))), "IPINFO?");  // needs no transport byte
}

TEST(SummaryLine, LaterFragmentsShowNoTransportInformation)
{
    for (auto bytes : {Tcp(0x12), Udp(1025, 53), Cat(Ip(1), Hex("08 00 00 00 00 00 00 00")),
                       Cat(Ip(2), Hex("11 00 00 00 00 00 00 00"))}) {
        ASSERT_NE(Rtrim(Info(bytes)), "");
        bytes[7] = 0x01;  // fragment offset 8 bytes
        EXPECT_EQ(Rtrim(Info(bytes)), "") << Line(bytes);
        EXPECT_EQ(Line(bytes).substr(27, 5), std::string(ProtocolName(bytes[9])).append(5, ' ').substr(0, 5));
        bytes[6] = 0x20;  // a first fragment: offset 0, More Fragments set
        bytes[7] = 0x00;
        EXPECT_NE(Rtrim(Info(bytes)), "");
    }
    auto zero = Ip(0);
    zero[7] = 0x01;
    EXPECT_EQ(Rtrim(Info(zero)), "IPINFO?");
}

TEST(SummaryLine, IndexesBeyondThirtyTwoBitsKeepTheLayout)
{
    const auto bytes = Udp(1025, 53);
    const std::string small = Line(bytes, 7);
    const std::string large = Line(bytes, 5000000000LL);
    EXPECT_EQ(large.substr(0, 10), "5000000000");
    EXPECT_EQ(large.substr(10), small.substr(5));  // the rest shifts right, unchanged
}

TEST(SummaryLine, DetailTreeTargetGetsAnUntaggedTopLevelLine)
{
    DetailTree tree;
    tree.InsertLine("first", NO_NODE);
    const NodeId n = AddSummaryLine(tree, Record(Tcp(0x02)), 4);
    EXPECT_EQ(tree.Parent(n), NO_NODE);
    EXPECT_EQ(tree.Tag(n), 0u);
    EXPECT_EQ(tree.Children(NO_NODE).size(), 2u);
    EXPECT_EQ(tree.Text(n).substr(0, 6), "    4 ");
}

TEST(Names, TablesAndFallbacks)
{
    EXPECT_STREQ(ProtocolName(47), "<PROTO>");
    EXPECT_STREQ(ServiceName(161), "SNMP");
    EXPECT_STREQ(ServiceName(162), "SNMP-trap");
    EXPECT_STREQ(ServiceName(80), "");
    char buffer[24];
    EXPECT_STREQ(IcmpTypeName(18, buffer), "Address Mask Reply");
    EXPECT_STREQ(IgmpTypeName(15, buffer), "UNUSED15");
    EXPECT_STREQ(IcmpCodeName(11, 1), "FRAG_REASSEMBLY_TIMEOUT");
    EXPECT_STREQ(IcmpCodeName(11, 2), "");
    EXPECT_STREQ(IcmpCodeName(5, 3), "TYPE_OF_SERVICE_HOST_REDIRECT");
    EXPECT_STREQ(IcmpCodeName(5, 4), "");
    EXPECT_STREQ(IcmpCodeName(3, 16), "");
    EXPECT_STREQ(IcmpCodeName(8, 0), "");
}

TEST(SectionStates, OnlySectionTagsAreRemembered)
{
    ResetSectionStates();
    RememberSectionState(0, EXPAND_EXPAND);
    RememberSectionState(0x0FFFFFFF, EXPAND_EXPAND);
    RememberSectionState(0x10000006, EXPAND_EXPAND);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(SectionStates[i], EXPAND_COLLAPSE) << i;
    EXPECT_EQ(SectionStates[5], EXPAND_EXPAND);
    RememberSectionState(TcpOptionsSection, EXPAND_EXPAND);
    RememberSectionState(PayloadSection, EXPAND_COLLAPSE);
    EXPECT_EQ(SectionStates[3], EXPAND_EXPAND);
    EXPECT_EQ(SectionStates[5], EXPAND_COLLAPSE);
    ResetSectionStates();
}

}  // namespace
}  // namespace kestrine
