// IPv4 header section: the fixed 20 bytes, with the type-of-service bits in a sub-section.
#include "common/text_format.h"
#include "decode/headers.h"
#include "decode/line_format.h"
#include "decode/names.h"
#include "decode/section_states.h"

namespace kestrine {

bool IsLaterFragment(const PacketCursor& ip) { return ip.Has(6, 2) && (ip.Be16(6) & 0x1FFF) != 0; }

void AddIpHeader(DetailTree& tree, const PacketCursor& ip, NodeId parent)
{
    const NodeId h = InsertLine(tree, "Ip Header", parent);
    SetTag(tree, h, IpHeaderSection);

    const uint8_t versionAndLength = ip.U8(0);
    const uint16_t totalLength = ip.Be16(2);
    const uint8_t protocol = ip.U8(9);
    char source[DOTTED_QUAD_SIZE], destination[DOTTED_QUAD_SIZE];
    FormatDottedQuad(ip.Be32(12), source);
    FormatDottedQuad(ip.Be32(16), destination);
    const uint16_t id = ip.Be16(4);
    const uint8_t ttl = ip.U8(8);

    // Every packet has these lines: built directly rather than through formats.
    LineBuilder(tree).Text("Version: ").Decimal(versionAndLength >> 4, 1).AddTo(h);
    LineBuilder(tree).Text("Header Length: ").Decimal(versionAndLength & 0x0F, 2).Text(" (32-bit words)").AddTo(h);
    LineBuilder(tree).Text("Packet Length   0x").Hex(totalLength, 4).Text(" (").Decimal(totalLength).Text(") bytes").AddTo(h);
    LineBuilder(tree).Text("Protocol: ").Text(ProtocolName(protocol)).Text("  (").Decimal(protocol).Text(")").AddTo(h);
    LineBuilder(tree).Text("Src IP: ").Text(source).AddTo(h);
    LineBuilder(tree).Text("Dst IP: ").Text(destination).AddTo(h);
    LineBuilder(tree).Text("ID        0x").Hex(id, 4).Text(" (").Decimal(id).Text(")").AddTo(h);
    LineBuilder(tree).Text("TTL       0x").Hex(ttl, 2).Text(" (").Decimal(ttl).Text(")").AddTo(h);

    const NodeId s = InsertLine(tree, "Type of Service", h);
    SetTag(tree, s, TypeOfServiceSection);
    const uint8_t tos = ip.U8(1);
    LineBuilder(tree).Text("Reliability: ").Decimal((tos >> 2) & 1, 1).AddTo(s);
    LineBuilder(tree).Text("Throughput:  ").Decimal((tos >> 3) & 1, 1).AddTo(s);
    LineBuilder(tree).Text("Delay:       ").Decimal((tos >> 4) & 1, 1).AddTo(s);
    LineBuilder(tree).Text("Precedence:  ").Decimal(tos >> 5, 1).Text(" ").AddTo(s);

    const uint16_t fragment = ip.Be16(6);
    LineBuilder(tree)
        .Text("MoreFrags ")
        .Decimal((fragment >> 13) & 1, 1)
        .Text("   DontFrag ")
        .Decimal((fragment >> 14) & 1, 1)
        .Text("   FragOffset ")
        .Decimal(fragment & 0x1FFF)
        .AddTo(h);
    const uint16_t checksum = ip.Be16(10);
    LineBuilder(tree).Text("Checksum  0x").Hex(checksum, 4).Text(" (").Decimal(checksum).Text(")").AddTo(h);

    ApplyRememberedState(tree, h, IpHeaderSection);
    ApplyRememberedState(tree, s, TypeOfServiceSection);
}

}  // namespace kestrine
