// Name tables with their fallbacks next to them.
#include "decode/names.h"

#include <cstdio>
#include <iterator>

#include "common/ip_protocols.h"

namespace kestrine {

namespace {

struct PortName {
    uint16_t port;
    const char* name;
};

constexpr PortName SERVICES[] = {
    {37, "TIME"},
    {53, "DNS"},
    {69, "Trivial FTP"},
    {115, "Simple FTP"},
    {123, "Network Time Protocol"},
    {137, "NETBIOS Name Service"},
    {138, "NETBIOS Datagram Service"},
    {139, "NETBIOS Session Service"},
    {152, "Background FTP"},
    {161, "SNMP"},
    {162, "SNMP-trap"},
};

constexpr const char* ICMP_TYPES[] = {
    "Echo Reply",          "Unassigned [1]",       "Unassigned [2]",      "Destination Unreachable",
    "Source Quench",       "Redirect",             "Alternate Host Address", "Unassigned [7]",
    "Echo request",        "Router Advertisement", "Router Selection",    "Time Exceeded",
    "Parameter Problem",   "Request Rimestamp",    "Timestamp Reply",     "Information Request",
    "Information Reply",   "Address Mask Request", "Address Mask Reply",
};
constexpr const char* ICMP_TYPE_FALLBACK = "Unassigned [%d]";

constexpr const char* IGMP_TYPES[] = {
    "UNUSED0", "MEMBERSHIP_QUERY", "MEMBERSHIP_REPORT (V1)", "UNUSED3",
    "UNUSED4", "UNUSED5",          "MEMBERSHIP_REPORT (V2)", "LEAVE_GROUP",
};
constexpr const char* IGMP_TYPE_FALLBACK = "UNUSED%d";

constexpr const char* UNREACHABLE_CODES[] = {
    "Network unreachable error.",
    "Host unreachable error.",
    "Protocol unreachable error. When the designated transport protocol is not supported.",
    "Port unreachable error. When the designated transport protocol (e.g., UDP) is unable to demultiplex the "
    "datagram but has no protocol mechanism to inform the sender.",
    "The datagram is too big. Packet fragmentation is required but the DF bit in the IP header is set.",
    "Source route failed error.",
    "Destination network unknown error.",
    "Destination host unknown error.",
    "Source host isolated error. Obsolete.",
    "The destination network is administratively prohibited.",
    "The destination host is administratively prohibited.",
    "The network is unreachable for Type Of Service.",
    "The host is unreachable for Type Of Service.",
    "Communication Administratively Prohibited. This is generated if a router cannot forward a packet due to "
    "administrative filtering.",
    "Host precedence violation. Sent by the first hop router to a host to indicate that a requested precedence is "
    "not permitted for the particular combination of source/destination host or network, upper layer protocol, "
    "and source/destination port.",
    "Precedence cutoff in effect. The network operators have imposed a minimum level of precedence required for "
    "operation, the datagram was sent with a precedence below this level.",
};

constexpr const char* REDIRECT_CODES[] = {
    "NETWORK_REDIRECT",
    "HOST_REDIRECT",
    "TYPE_OF_SERVICE_NET_REDIRECT",
    "TYPE_OF_SERVICE_HOST_REDIRECT",
};

constexpr const char* TIME_EXCEEDED_CODES[] = {
    "IP_TTL_EXCEEDED",
    "FRAG_REASSEMBLY_TIMEOUT",
};

template <size_t N>
const char* Lookup(const char* const (&table)[N], unsigned index)
{
    return index < N ? table[index] : "";
}

}  // namespace

const char* ProtocolName(uint8_t protocol)
{
    for (const IpProtocolName& entry : IP_PROTOCOL_NAMES)
        if (entry.number == protocol) return entry.name;
    return "<PROTO>";
}

const char* ServiceName(uint16_t port)
{
    for (const PortName& entry : SERVICES)
        if (entry.port == port) return entry.name;
    return "";
}

const char* IcmpTypeName(uint8_t type, char (&buffer)[24])
{
    if (type < std::size(ICMP_TYPES)) return ICMP_TYPES[type];
    std::snprintf(buffer, sizeof buffer, ICMP_TYPE_FALLBACK, type);
    return buffer;
}

const char* IgmpTypeName(uint8_t type, char (&buffer)[24])
{
    if (type < std::size(IGMP_TYPES)) return IGMP_TYPES[type];
    std::snprintf(buffer, sizeof buffer, IGMP_TYPE_FALLBACK, type);
    return buffer;
}

int FormatTcpFlagWords(uint8_t flags, char (&out)[TCP_FLAG_TEXT_SIZE])
{
    int n = 0;
    for (const TcpFlagWord& flag : TCP_FLAG_WORDS) {
        if ((flags & flag.bit) == 0) continue;
        for (const char* c = flag.word; *c; ++c) out[n++] = *c;
    }
    out[n] = '\0';
    return n;
}

const char* IcmpCodeName(uint8_t type, uint8_t code)
{
    switch (type) {
    case 3: return Lookup(UNREACHABLE_CODES, code);
    case 5: return Lookup(REDIRECT_CODES, code);
    case 11: return Lookup(TIME_EXCEEDED_CODES, code);
    default: return "";
    }
}

}  // namespace kestrine
