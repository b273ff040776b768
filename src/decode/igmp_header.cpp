// IGMP header section. The first byte is split into a version and a type nibble for every
// message, so 0x11 reads as version 1, type 1.
#include "common/text_format.h"
#include "decode/headers.h"
#include "decode/line_format.h"
#include "decode/names.h"
#include "decode/section_states.h"

namespace kestrine {

void AddIgmpHeader(DetailTree& tree, const PacketCursor& igmp, NodeId parent)
{
    const NodeId g = InsertLine(tree, "IGMP Header", parent);  // untagged, never expanded
    const uint8_t first = igmp.U8(0);
    AddLine(tree, g, "Version  0x%02x (%d)", first >> 4, first >> 4);
    char buffer[24];
    AddLine(tree, g, "Type  0x%02x %s", first & 0x0F, IgmpTypeName(first & 0x0F, buffer));
    const uint8_t maxResponse = igmp.U8(1);
    AddLine(tree, g, "Max Response Time  0x%02x (%d)", maxResponse, maxResponse);
    const uint16_t checksum = igmp.Be16(2);
    AddLine(tree, g, "Checksum  0x%04x (%d)", checksum, checksum);
    const uint32_t group = igmp.Be32(4);
    char dotted[DOTTED_QUAD_SIZE];
    FormatDottedQuad(group, dotted);
    AddLine(tree, g, "Multicast Address  0x%08x  %s", group, dotted);
}

}  // namespace kestrine
