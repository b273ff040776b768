// Header decoders: each appends its section as the last child of parent and fills it,
// reading only through the cursor (positioned at the header's first byte). They raise
// MalformedPacket on a read past the captured bytes and do not catch it.
#pragma once

#include "decode/detail_tree.h"
#include "common/packet_cursor.h"

namespace kestrine {

// Whether the datagram whose IP header the cursor points at is a fragment other than the
// first (fragment offset not 0): its bytes come from the middle of the original datagram
// and begin with no transport header. A header too short to hold the field counts as a
// first fragment. Never raises.
bool IsLaterFragment(const PacketCursor& ip);

// "Ip Header": the fixed 20 bytes; options are not shown.
void AddIpHeader(DetailTree& tree, const PacketCursor& header, NodeId parent);
// "TCP Header" with the option bytes and the option walk.
void AddTcpHeader(DetailTree& tree, const PacketCursor& header, NodeId parent);
// "UDP Header".
void AddUdpHeader(DetailTree& tree, const PacketCursor& header, NodeId parent);
// "ICMP Header   <type name>"; all 8 bytes are read before anything is appended.
void AddIcmpHeader(DetailTree& tree, const PacketCursor& header, NodeId parent);
// "IGMP Header".
void AddIgmpHeader(DetailTree& tree, const PacketCursor& header, NodeId parent);

}  // namespace kestrine
