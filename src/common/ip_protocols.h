// The IP protocol numbers the program tells apart, and their names: one table for the
// capture's protocol switches, the summary line, the detail walk and the name lookup.
#pragma once

#include <cstdint>

namespace kestrine {

enum IpProtocol : uint8_t {
    IP_PROTOCOL_IP = 0,  // shown by name only; no header of its own is decoded
    IP_PROTOCOL_ICMP = 1,
    IP_PROTOCOL_IGMP = 2,
    IP_PROTOCOL_TCP = 6,
    IP_PROTOCOL_UDP = 17,
};

struct IpProtocolName {
    uint8_t number;
    const char* name;
};

inline constexpr IpProtocolName IP_PROTOCOL_NAMES[] = {
    {IP_PROTOCOL_IP, "IP"},    {IP_PROTOCOL_ICMP, "ICMP"}, {IP_PROTOCOL_IGMP, "IGMP"},
    {IP_PROTOCOL_TCP, "TCP"},  {IP_PROTOCOL_UDP, "UDP"},
};

}  // namespace kestrine
