// ICMP header section: type and code with their names, identifier, checksum, sequence.
#include "decode/headers.h"
#include "decode/line_format.h"
#include "decode/names.h"

namespace kestrine {

void AddIcmpHeader(DetailTree& tree, const PacketCursor& icmp, NodeId parent)
{
    // Everything is read first: a header past the captured bytes adds no line at all.
    const uint8_t type = icmp.U8(0);
    const uint8_t code = icmp.U8(1);
    const uint16_t checksum = icmp.Be16(2);
    const uint16_t identifier = icmp.Be16(4);
    const uint16_t sequence = icmp.Be16(6);
    char buffer[24];
    const char* name = IcmpTypeName(type, buffer);

    // Untagged and never expanded by the walk.
    const NodeId i = AddLine(tree, parent, "ICMP Header   %s", name);
    AddLine(tree, i, "Type %3d  %s", type, name);
    AddLine(tree, i, "Code %3d  %s", code, IcmpCodeName(type, code));
    AddLine(tree, i, "ID        0x%04x (%d)", identifier, identifier);
    AddLine(tree, i, "Checksum  0x%04x (%d)", checksum, checksum);
    AddLine(tree, i, "Sequence #  0x%04x (%d)", sequence, sequence);
}

}  // namespace kestrine
