// Header sections letter for letter: IP, TCP with its option walk, UDP, ICMP, IGMP.
#include "decode/headers.h"

#include <gtest/gtest.h>

#include "decode/section_states.h"
#include "tests/decode/decode_test_util.h"

namespace kestrine {
namespace {

using testing::Cat;
using testing::Hex;
using testing::Render;

// Renders one decoder's section (under no parent) from the bytes.
template <typename Decoder>
std::string Section(Decoder decoder, const std::vector<uint8_t>& bytes, DetailTree* keep = nullptr)
{
    DetailTree local;
    DetailTree& tree = keep ? *keep : local;
    decoder(tree, PacketCursor(bytes.data(), static_cast<int32_t>(bytes.size())), NO_NODE);
    return Render(tree);
}

std::vector<uint8_t> TcpWithOptions(const std::string& options, const std::string& after = "")
{
    const auto o = Hex(options);
    auto h = Hex("04 01 00 50 00 00 00 01 00 00 00 02 00 12 20 00 ab cd 00 00");
    h[12] = static_cast<uint8_t>(((20 + o.size()) / 4) << 4);
    return Cat(Cat(h, o), Hex(after));
}

// The "Option Bytes" line and the lines under it.
std::string Options(const std::vector<uint8_t>& tcp)
{
    const std::string all = Section(AddTcpHeader, tcp);
    const size_t at = all.find("  Option Bytes: ");
    return at == std::string::npos ? "" : all.substr(at);
}

TEST(IpHeader, WorkedExample)
{
    ResetSectionStates();
    const auto bytes = Hex("45 b8 00 3c 1c 46 40 00 40 06 b1 e6 c0 00 02 01 c6 33 64 07");
    EXPECT_EQ(Section(AddIpHeader, bytes),
              "Ip Header\n"
              "  Version: 4\n"
              "  Header Length:  5 (32-bit words)\n"
              "  Packet Length   0x003c (60) bytes\n"
              "  Protocol: TCP  (6)\n"
              "  Src IP: 192.0.2.1\n"
              "  Dst IP: 198.51.100.7\n"
              "  ID        0x1c46 (7238)\n"
              "  TTL       0x40 (64)\n"
              "  Type of Service\n"
              "    Reliability: 0\n"
              "    Throughput:  1\n"
              "    Delay:       1\n"
              "    Precedence:  5 \n"
              "  MoreFrags 0   DontFrag 1   FragOffset 0\n"
              "  Checksum  0xb1e6 (45542)\n");
}

TEST(IpHeader, FieldEdgesAndRememberedStates)
{
    ResetSectionStates();
    auto bytes = Hex("4f e0 00 3c 1c 46 20 05 40 2f b1 e6 c0 00 02 01 c6 33 64 07");
    std::string text = Section(AddIpHeader, bytes);
    EXPECT_NE(text.find("  Header Length: 15 (32-bit words)\n"), std::string::npos);
    EXPECT_NE(text.find("  Protocol: <PROTO>  (47)\n"), std::string::npos);
    EXPECT_NE(text.find("  MoreFrags 1   DontFrag 0   FragOffset 5\n"), std::string::npos);
    EXPECT_NE(text.find("    Reliability: 0\n    Throughput:  0\n    Delay:       0\n    Precedence:  7 \n"),
              std::string::npos);
    bytes[6] = 0x1f;
    bytes[7] = 0xff;
    EXPECT_NE(Section(AddIpHeader, bytes).find("FragOffset 8191\n"), std::string::npos);

    DetailTree tree;
    Section(AddIpHeader, bytes, &tree);
    EXPECT_EQ(tree.Tag(0), IpHeaderSection);
    EXPECT_EQ(tree.Children(0).size(), 11u);
    EXPECT_FALSE(tree.Expanded(0));
    RememberSectionState(IpHeaderSection, EXPAND_EXPAND);
    DetailTree expanded;
    Section(AddIpHeader, bytes, &expanded);
    EXPECT_TRUE(expanded.Expanded(0));
    const NodeId tos = expanded.Children(0)[8];
    EXPECT_EQ(expanded.Text(tos), "Type of Service");
    EXPECT_EQ(expanded.Tag(tos), TypeOfServiceSection);
    EXPECT_FALSE(expanded.Expanded(tos));  // keeps its own remembered state
    ResetSectionStates();
}

TEST(TcpHeader, FixedFieldsAndFlags)
{
    const auto tcp = TcpWithOptions("");
    EXPECT_EQ(Section(AddTcpHeader, tcp),
              "TCP Header\n"
              "  Src Port  0x0401 (1025)\n"
              "  Dst Port  0x0050 (80)\n"
              "  Sequence #  0x00000001 (1)\n"
              "  Acknowledgement #  0x00000002 (2)\n"
              "  Flags: 010010 --  ACK SYN\n"
              "  Urgent pointer  0x0000 (0)\n"
              "  Window size  0x2000 (8192)\n"
              "  Checksum  0xabcd (43981)\n"
              "  Data offset  0x05 (20 bytes)\n");
    auto none = tcp;
    none[13] = 0;
    EXPECT_NE(Section(AddTcpHeader, none).find("  Flags: 000000 -- \n"), std::string::npos);
    none[13] = 0x18;
    EXPECT_NE(Section(AddTcpHeader, none).find("  Flags: 011000 --  ACK PSH\n"), std::string::npos);
    none[4] = 0xff;  // sequence numbers above 2^31 print unsigned
    EXPECT_NE(Section(AddTcpHeader, none).find("(4278190081)"), std::string::npos);
}

TEST(TcpHeader, OptionWalkExample)
{
    EXPECT_EQ(Options(TcpWithOptions("02 04 05 b4 01 01 04 02")),
              "  Option Bytes: 02 04 05 b4 01 01 04 02 \n"
              "    Maximum Segment Size 1460\n"
              "    NO OP\n"
              "    NO OP\n"
              "    SACK permitted\n");
    const auto tcp = TcpWithOptions("02 04 05 b4 01 01 04 02");
    EXPECT_NE(Section(AddTcpHeader, tcp).find("  Data offset  0x07 (28 bytes)\n"), std::string::npos);
}

TEST(TcpHeader, UnknownOptionsArePassedByTheirLength)
{
    EXPECT_EQ(Options(TcpWithOptions("03 03 07 00")), "  Option Bytes: 03 03 07 00 \n    what?\n");
    // Timestamps: one line, then the option after them is read correctly.
    EXPECT_EQ(Options(TcpWithOptions("01 01 08 0a 00 00 00 01 00 00 00 02 02 04 05 b4")),
              "  Option Bytes: 01 01 08 0a 00 00 00 01 00 00 00 02 02 04 05 b4 \n"
              "    NO OP\n    NO OP\n    what?\n    Maximum Segment Size 1460\n");
    // A length byte below 2, or one reaching past the options, ends the walk.
    EXPECT_EQ(Options(TcpWithOptions("09 01 01 01")), "  Option Bytes: 09 01 01 01 \n    what?\n");
    EXPECT_EQ(Options(TcpWithOptions("01 09 06 01")), "  Option Bytes: 01 09 06 01 \n    NO OP\n    what?\n");
    // A zero kind first: the option line stands without children.
    EXPECT_EQ(Options(TcpWithOptions("00 01 01 01")), "  Option Bytes: 00 01 01 01 \n");
}

TEST(TcpHeader, SackBlocksShowTheirTwoEdges)
{
    EXPECT_EQ(Options(TcpWithOptions("01 01 05 0a 00 01 00 02 00 03 00 04")),
              "  Option Bytes: 01 01 05 0a 00 01 00 02 00 03 00 04 \n"
              "    NO OP\n    NO OP\n    TCP SACK\n      65538 :: 196612\n");
    EXPECT_EQ(Options(TcpWithOptions("05 12 ff ff ff ff 00 00 00 01 00 00 00 10 00 00 00 20 00 00")),
              "  Option Bytes: 05 12 ff ff ff ff 00 00 00 01 00 00 00 10 00 00 00 20 00 00 \n"
              "    TCP SACK\n      4294967295 :: 1\n      16 :: 32\n");
    // Length not 2 + 8k: whole blocks only, the walk goes on at q + n.
    EXPECT_EQ(Options(TcpWithOptions("05 0c 00 00 00 05 00 00 00 06 aa bb 01 00 00 00")),
              "  Option Bytes: 05 0c 00 00 00 05 00 00 00 06 aa bb 01 00 00 00 \n"
              "    TCP SACK\n      5 :: 6\n    NO OP\n");
    // Length 2 or less: no lines, the walk resumes two bytes after the kind.
    EXPECT_EQ(Options(TcpWithOptions("05 02 01 00")), "  Option Bytes: 05 02 01 00 \n    TCP SACK\n    NO OP\n");
    EXPECT_EQ(Options(TcpWithOptions("05 00 01 00")), "  Option Bytes: 05 00 01 00 \n    TCP SACK\n    NO OP\n");
}

TEST(TcpHeader, OptionReadsPastTheCapturedBytesRaise)
{
    // MSS in the last option bytes takes its value from the payload when captured...
    EXPECT_EQ(Options(TcpWithOptions("01 01 01 02", "04 05 dc")),
              "  Option Bytes: 01 01 01 02 \n    NO OP\n    NO OP\n    NO OP\n    Maximum Segment Size 1500\n");
    // ...and raises when not; the lines before it stay, no state is applied.
    ResetSectionStates();
    RememberSectionState(TcpOptionsSection, EXPAND_EXPAND);
    RememberSectionState(TcpHeaderSection, EXPAND_EXPAND);
    DetailTree tree;
    const auto cut = TcpWithOptions("01 01 01 02");
    EXPECT_THROW(Section(AddTcpHeader, cut, &tree), MalformedPacket);
    EXPECT_EQ(tree.Size(), 1u + 9 + 1 + 3);
    EXPECT_FALSE(tree.Expanded(0));
    ResetSectionStates();

    // An unknown kind whose length byte lies past the captured bytes adds no line.
    DetailTree unknown;
    EXPECT_THROW(Section(AddTcpHeader, TcpWithOptions("01 01 01 08"), &unknown), MalformedPacket);
    EXPECT_EQ(Render(unknown).substr(Render(unknown).find("Option")),
              "Option Bytes: 01 01 01 08 \n    NO OP\n    NO OP\n    NO OP\n");
    // Same for a SACK whose length byte is missing.
    DetailTree sack;
    EXPECT_THROW(Section(AddTcpHeader, TcpWithOptions("01 01 01 05"), &sack), MalformedPacket);
    EXPECT_EQ(Render(sack).find("TCP SACK"), std::string::npos);
}

TEST(TcpHeader, DataOffsetBelowFiveAndCutOptionBytes)
{
    auto bad = TcpWithOptions("");
    bad[12] = 0x40;
    DetailTree tree;
    EXPECT_THROW(Section(AddTcpHeader, bad, &tree), MalformedPacket);
    EXPECT_EQ(tree.Children(0).size(), 9u);
    EXPECT_EQ(tree.Text(tree.Children(0).back()), "Data offset  0x04 (16 bytes)");

    auto longOffset = TcpWithOptions("");
    longOffset[12] = 0xF0;  // 40 option bytes claimed, none captured
    DetailTree cut;
    EXPECT_THROW(Section(AddTcpHeader, longOffset, &cut), MalformedPacket);
    EXPECT_EQ(cut.Children(0).size(), 9u);  // no option line
}

TEST(TcpHeader, FortyOptionBytesMakeA134CharacterLine)
{
    DetailTree tree;
    Section(AddTcpHeader, TcpWithOptions("01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
                                         "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"),
            &tree);
    const NodeId o = tree.Children(0)[9];
    EXPECT_EQ(tree.Text(o).size(), 134u);
    EXPECT_EQ(tree.Tag(o), TcpOptionsSection);
    EXPECT_EQ(tree.Children(o).size(), 1u);  // one NO OP, then the end of the list
}

TEST(UdpHeader, PortsAndNames)
{
    EXPECT_EQ(Section(AddUdpHeader, Hex("04 01 00 35 00 1c ab cd")),
              "UDP Header\n"
              "  Src Port  0x0401 (1025)\n"
              "  Dst Port  0x0035 (53)  DNS\n"
              "  Length    0x001c (28)\n"
              "  Checksum  0xabcd (43981)\n");
    EXPECT_NE(Section(AddUdpHeader, Hex("04 01 17 70 00 08 00 00")).find("  Dst Port  0x1770 (6000)  \n"),
              std::string::npos);
    // The source port's name is not shown.
    EXPECT_NE(Section(AddUdpHeader, Hex("00 35 04 01 00 08 00 00")).find("  Dst Port  0x0401 (1025)  \n"),
              std::string::npos);
}

TEST(IcmpHeader, TypesAndCodes)
{
    EXPECT_EQ(Section(AddIcmpHeader, Hex("08 00 4d 5a 02 00 0b 00")),
              "ICMP Header   Echo request\n"
              "  Type   8  Echo request\n"
              "  Code   0  \n"
              "  ID        0x0200 (512)\n"
              "  Checksum  0x4d5a (19802)\n"
              "  Sequence #  0x0b00 (2816)\n");
    const std::string unreachable = Section(AddIcmpHeader, Hex("03 03 00 00 00 00 00 00"));
    const size_t code = unreachable.find("  Code   3  Port unreachable error.");
    ASSERT_NE(code, std::string::npos);
    EXPECT_EQ(unreachable.find('\n', code) - code, 2 + 10 + 164u);
    EXPECT_NE(Section(AddIcmpHeader, Hex("08 07 00 00 00 00 00 00")).find("  Code   7  \n"), std::string::npos);
    EXPECT_NE(Section(AddIcmpHeader, Hex("0b 01 00 00 00 00 00 00")).find("Code   1  FRAG_REASSEMBLY_TIMEOUT\n"),
              std::string::npos);
    EXPECT_NE(Section(AddIcmpHeader, Hex("03 10 00 00 00 00 00 00")).find("  Code  16  \n"), std::string::npos);
    EXPECT_NE(Section(AddIcmpHeader, Hex("14 00 00 00 00 00 00 00")).find("ICMP Header   Unassigned [20]\n  Type  20  Unassigned [20]\n"),
              std::string::npos);
    // Nothing is appended when the header is cut.
    DetailTree tree;
    EXPECT_THROW(Section(AddIcmpHeader, Hex("08 00 4d 5a 02 00 0b"), &tree), MalformedPacket);
    EXPECT_EQ(tree.Size(), 0u);
}

TEST(IgmpHeader, NibblesAndGroup)
{
    EXPECT_EQ(Section(AddIgmpHeader, Hex("16 00 fa 04 e0 00 00 fb")),
              "IGMP Header\n"
              "  Version  0x01 (1)\n"
              "  Type  0x06 MEMBERSHIP_REPORT (V2)\n"
              "  Max Response Time  0x00 (0)\n"
              "  Checksum  0xfa04 (64004)\n"
              "  Multicast Address  0xe00000fb  224.0.0.251\n");
    EXPECT_NE(Section(AddIgmpHeader, Hex("17 00 00 00 00 00 00 00")).find("  Type  0x07 LEAVE_GROUP\n"),
              std::string::npos);
    EXPECT_NE(Section(AddIgmpHeader, Hex("22 64 00 00 00 00 00 00")).find("  Version  0x02 (2)\n  Type  0x02 MEMBERSHIP_REPORT (V1)\n  Max Response Time  0x64 (100)\n"),
              std::string::npos);
    EXPECT_NE(Section(AddIgmpHeader, Hex("1c 00 00 00 00 00 00 00")).find("  Type  0x0c UNUSED12\n"), std::string::npos);
}

}  // namespace
}  // namespace kestrine
