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
    LineBuilder(tree).Text("Src Port  0x").Hex(source, 4).Text(" (").Decimal(source).Text(")").AddTo(u);
    const uint16_t destination = udp.Be16(2);
    LineBuilder(tree)
        .Text("Dst Port  0x")
        .Hex(destination, 4)
        .Text(" (")
        .Decimal(destination)
        .Text(")  ")
        .Text(ServiceName(destination))
        .AddTo(u);
    const uint16_t length = udp.Be16(4);
    LineBuilder(tree).Text("Length    0x").Hex(length, 4).Text(" (").Decimal(length).Text(")").AddTo(u);
    const uint16_t checksum = udp.Be16(6);
    LineBuilder(tree).Text("Checksum  0x").Hex(checksum, 4).Text(" (").Decimal(checksum).Text(")").AddTo(u);
    ApplyRememberedState(tree, u, UdpHeaderSection);
}

}  // namespace kestrine
