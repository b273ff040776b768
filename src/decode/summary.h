// The fixed-layout summary line of a packet and its Information column.
#pragma once

#include <cstdint>
#include <string>

#include "common/packet_cursor.h"
#include "common/packet_record.h"
#include "decode/detail_tree.h"

namespace kestrine {

// The packet list's first line; each summary column ends under its heading.
inline constexpr char SUMMARY_COLUMN_HEADER[] =
    "Index    Time-Stamp  Size  Proto  Src IP Address   Dst IP Address    Information";

inline constexpr int INFORMATION_CAPACITY = 64;

// The widest line the format gives a packet of a capture: each column at its width (the
// size column at five digits, a datagram's most) and the longest Information text. Lists
// size their column from it.
inline constexpr int SUMMARY_LINE_MAX_LENGTH = 5 + 1 + 13 + 2 + 5 + 2 + 5 + 2 + 16 + 1 + 16 + 2 + (INFORMATION_CAPACITY - 1);

// The widest line a capture commonly gives: a TCP segment of five-digit size with all six
// flags. Windows open wide enough to show it whole, measured in the font they use.
inline constexpr char SUMMARY_LINE_WIDEST_COMMON[] =
    "99999  86399.999999  65535  TCP    255.255.255.255  255.255.255.255   < URG ACK PSH RST SYN FIN >";

// The Information column for protocol p, from the transport header at the cursor. A
// transport field that was not captured gives "".
void InformationText(uint8_t protocol, const PacketCursor& transport, char (&out)[INFORMATION_CAPACITY]);

// Formats the summary line of record with its index into out; returns its length. An index
// wider than its five columns pushes the rest of the line to the right.
int FormatSummaryLine(const PacketRecord& record, int64_t index, char* out, int capacity);

// Formats the summary line and appends it as the last top-level line of target.
NodeId AddSummaryLine(SummaryTarget& target, const PacketRecord& record, int64_t index);

}  // namespace kestrine
