// Name tables: IP protocols, UDP/TCP services, ICMP types and codes, IGMP types.
#pragma once

#include <cstdint>

namespace kestrine {

// "IP", "ICMP", "IGMP", "TCP", "UDP", else "<PROTO>".
const char* ProtocolName(uint8_t protocol);
// Name of a port in host order, "" when it has none.
const char* ServiceName(uint16_t port);
// Types 0..18 from the table; 19 and up "Unassigned [n]". The text lives in buffer when
// formatted, so it stays valid while buffer does.
const char* IcmpTypeName(uint8_t type, char (&buffer)[24]);
// Types 0..7 from the table (the low nibble of the first IGMP byte); 8..15 "UNUSEDn".
const char* IgmpTypeName(uint8_t type, char (&buffer)[24]);
// The TCP flag bits that are shown, in the order they are shown, with their words.
struct TcpFlagWord {
    uint8_t bit;
    const char* word;
};
inline constexpr TcpFlagWord TCP_FLAG_WORDS[] = {
    {0x20, " URG"}, {0x10, " ACK"}, {0x08, " PSH"}, {0x04, " RST"}, {0x02, " SYN"}, {0x01, " FIN"},
};
inline constexpr int TCP_FLAG_TEXT_SIZE = 32;  // all six words and the terminator
// The words of the flags set in flags, in table order (" ACK SYN"); returns the length.
int FormatTcpFlagWords(uint8_t flags, char (&out)[TCP_FLAG_TEXT_SIZE]);

// Code names of types 3, 5 and 11; "" for other types and for codes beyond a table.
const char* IcmpCodeName(uint8_t type, uint8_t code);

}  // namespace kestrine
