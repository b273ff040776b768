// The detail walk: a packet's IP header, transport header, the datagrams enclosed in ICMP
// error messages and the payload dump, under the four guards against malformed packets.
#pragma once

#include <cstdint>

#include "common/packet_record.h"
#include "decode/detail_tree.h"
#include "common/packet_cursor.h"

namespace kestrine {

// Appends every section of the packet under parent, in walk order. Never throws.
void AddPacketDetail(DetailTree& tree, PacketRecord record, NodeId parent);

// A packet's whole tree, as the windows show it: its summary line as the last top-level
// line of tree, expanded, with every section beneath it. Returns the summary line.
NodeId AddPacketTree(DetailTree& tree, const PacketRecord& record, int64_t index);

// "Data: %d bytes" with one hex/text line per 16 bytes from at; a negative length means
// the position lies past the captured bytes, which the dump's own guard reports.
void AddPayloadDump(DetailTree& tree, const PacketCursor& at, int32_t length, NodeId parent);

// ICMP types that carry the offending datagram, which the walk decodes after them.
bool IcmpCarriesDatagram(uint8_t type);

}  // namespace kestrine
