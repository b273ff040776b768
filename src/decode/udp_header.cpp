// UDP header section.
#include "decode/headers.h"
#include "decode/line_format.h"
#include "decode/names.h"
#include "decode/section_states.h"

namespace kestrine {

void AddUdpHeader(DetailTree& tree, const PacketCursor& udp, NodeId parent)
{
    const NodeId u = InsertLine(tree, "UDP Header", parent);
    SetTag(tree, u, UdpHeaderSection);
    const uint16_t source = udp.Be16(0);
    AddLine(tree, u, "Src Port  0x%04x (%u)", source, source);
    const uint16_t destination = udp.Be16(2);
    AddLine(tree, u, "Dst Port  0x%04x (%u)  %s", destination, destination, ServiceName(destination));
    const uint16_t length = udp.Be16(4);
    AddLine(tree, u, "Length    0x%04x (%u)", length, length);
    const uint16_t checksum = udp.Be16(6);
    AddLine(tree, u, "Checksum  0x%04x (%u)", checksum, checksum);
    ApplyRememberedState(tree, u, UdpHeaderSection);
}

}  // namespace kestrine
