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

    AddLine(tree, h, "Version: %1d", versionAndLength >> 4);
    AddLine(tree, h, "Header Length: %2d (32-bit words)", versionAndLength & 0x0F);
    AddLine(tree, h, "Packet Length   0x%04x (%d) bytes", totalLength, totalLength);
    AddLine(tree, h, "Protocol: %s  (%d)", ProtocolName(protocol), protocol);
    AddLine(tree, h, "Src IP: %s", source);
    AddLine(tree, h, "Dst IP: %s", destination);
    AddLine(tree, h, "ID        0x%04x (%d)", id, id);
    AddLine(tree, h, "TTL       0x%02x (%d)", ttl, ttl);

    const NodeId s = InsertLine(tree, "Type of Service", h);
    SetTag(tree, s, TypeOfServiceSection);
    const uint8_t tos = ip.U8(1);
    AddLine(tree, s, "Reliability: %1d", (tos >> 2) & 1);
    AddLine(tree, s, "Throughput:  %1d", (tos >> 3) & 1);
    AddLine(tree, s, "Delay:       %1d", (tos >> 4) & 1);
    AddLine(tree, s, "Precedence:  %1d ", tos >> 5);

    const uint16_t fragment = ip.Be16(6);
    AddLine(tree, h, "MoreFrags %1d   DontFrag %1d   FragOffset %d", (fragment >> 13) & 1, (fragment >> 14) & 1,
            fragment & 0x1FFF);
    const uint16_t checksum = ip.Be16(10);
    AddLine(tree, h, "Checksum  0x%04x (%d)", checksum, checksum);

    ApplyRememberedState(tree, h, IpHeaderSection);
    ApplyRememberedState(tree, s, TypeOfServiceSection);
}

}  // namespace kestrine
