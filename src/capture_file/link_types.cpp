// The table of link types the capture-file reader knows, and the walks over their link
// headers to the IPv4 datagram; see link_types.h. Every read asks the cursor first.
#include "capture_file/link_types.h"

#include "common/packet_cursor.h"

namespace kestrine {

namespace {

constexpr int NONE = -1;

constexpr uint16_t ETHER_TYPE_IPV4 = 0x0800;
constexpr uint16_t ETHER_TYPE_VLAN = 0x8100;     // 802.1Q
constexpr uint16_t ETHER_TYPE_QINQ = 0x88A8;     // 802.1ad
constexpr uint16_t ETHER_TYPE_QINQ_OLD = 0x9100;  // stacked tags before 802.1ad
constexpr uint16_t ETHER_TYPE_MPLS = 0x8847;
constexpr uint16_t ETHER_TYPE_MPLS_MULTICAST = 0x8848;
constexpr uint16_t ETHER_TYPE_PPPOE_SESSION = 0x8864;

constexpr uint16_t PPP_IPV4 = 0x0021;
constexpr uint16_t PPP_MPLS = 0x0281;
constexpr uint16_t PPP_MPLS_MULTICAST = 0x0283;

constexpr int LINKTYPE_PKTAP = 258;

// The link headers in front of a datagram are few; a frame that claims more (stacked tags
// without end) is not followed further.
constexpr int MOST_HEADERS = 16;

// Whether an IPv4 header with a sound header length starts at `at`: how a payload that
// does not name its protocol (MPLS, a heuristic link) is told to be IPv4.
int IfIpv4(const PacketCursor& f, int64_t at)
{
    return f.Has(at) && f.U8(at) >= 0x45 && f.U8(at) <= 0x4F ? static_cast<int>(at) : NONE;
}

// An MPLS label stack from `at`: the datagram after its bottom label, when it is IPv4
// (label 0, IPv4 explicit null, says so; otherwise its first byte).
int AfterMpls(const PacketCursor& f, int64_t at)
{
    for (int labels = 0; labels < MOST_HEADERS && f.Has(at, 4); ++labels) {
        const uint32_t entry = f.Be32(at);
        at += 4;
        if ((entry & 0x100) == 0) continue;  // not the bottom of the stack
        if (entry >> 12 == 0) return f.Has(at) ? static_cast<int>(at) : NONE;
        return IfIpv4(f, at);
    }
    return NONE;
}

int AfterPppProtocol(uint16_t protocol, const PacketCursor& f, int64_t at);

// What follows an EtherType at `at`: IPv4 itself, or behind VLAN tags, MPLS labels or a
// PPPoE session header.
int AfterEtherType(uint16_t type, const PacketCursor& f, int64_t at)
{
    for (int headers = 0; headers < MOST_HEADERS; ++headers) {
        switch (type) {
        case ETHER_TYPE_IPV4: return static_cast<int>(at);
        case ETHER_TYPE_VLAN:
        case ETHER_TYPE_QINQ:
        case ETHER_TYPE_QINQ_OLD:
            if (!f.Has(at, 4)) return NONE;
            type = f.Be16(at + 2);
            at += 4;
            break;
        case ETHER_TYPE_MPLS:
        case ETHER_TYPE_MPLS_MULTICAST: return AfterMpls(f, at);
        case ETHER_TYPE_PPPOE_SESSION:  // version and type, code, session, length, then PPP
            if (!f.Has(at, 8)) return NONE;
            return AfterPppProtocol(f.Be16(at + 6), f, at + 8);
        default: return NONE;
        }
    }
    return NONE;
}

int AfterPppProtocol(uint16_t protocol, const PacketCursor& f, int64_t at)
{
    switch (protocol) {
    case PPP_IPV4: return static_cast<int>(at);
    case PPP_MPLS:
    case PPP_MPLS_MULTICAST: return AfterMpls(f, at);
    default: return NONE;
    }
}

// A PPP frame from `at`: the address and control bytes (0xFF 0x03) when there, then the
// protocol, one byte when odd (protocol field compression), else two.
int Ppp(const PacketCursor& f, int64_t at)
{
    if (f.Has(at, 2) && f.U8(at) == 0xFF && f.U8(at + 1) == 0x03) at += 2;
    if (!f.Has(at)) return NONE;
    if (f.U8(at) & 1) return AfterPppProtocol(f.U8(at), f, at + 1);
    return f.Has(at, 2) ? AfterPppProtocol(f.Be16(at), f, at + 2) : NONE;
}

int Ethernet(const PacketCursor& f, int64_t at)
{
    return f.Has(at, 14) ? AfterEtherType(f.Be16(at + 12), f, at + 14) : NONE;
}

// Address, control, then an EtherType.
int CiscoHdlc(const PacketCursor& f) { return f.Has(0, 4) ? AfterEtherType(f.Be16(2), f, 4) : NONE; }

int Raw(const PacketCursor& f) { return f.Has(0) && (f.U8(0) >> 4) == 4 ? 0 : NONE; }  // may carry IPv6
int Ipv4(const PacketCursor&) { return 0; }
int EthernetFrame(const PacketCursor& f) { return Ethernet(f, 0); }
int Mpls(const PacketCursor& f) { return AfterMpls(f, 0); }
int PppFrame(const PacketCursor& f) { return Ppp(f, 0); }

// PPP in HDLC-like framing; Cisco HDLC frames (address 0x0F or 0x8F) share the link type.
int PppHdlc(const PacketCursor& f)
{
    if (f.Has(0) && (f.U8(0) == 0x0F || f.U8(0) == 0x8F)) return CiscoHdlc(f);
    return Ppp(f, 0);
}

// pppd's: a direction byte in place of the address byte, then control and protocol.
int PppWithDirection(const PacketCursor& f) { return Ppp(f, 2); }

// A PPPoE session without its Ethernet header.
int PppoeSession(const PacketCursor& f) { return AfterEtherType(ETHER_TYPE_PPPOE_SESSION, f, 0); }

// Address family 2 (AF_INET) in the first 4 bytes, in either byte order, then `length`
// bytes of header in all.
int AddressFamily(const PacketCursor& f, int64_t length)
{
    if (!f.Has(0, 4)) return NONE;
    const uint32_t family = f.Be32(0);
    return family == 2 || family == 0x02000000 ? static_cast<int>(length) : NONE;
}
int Null(const PacketCursor& f) { return AddressFamily(f, 4); }
int Enc(const PacketCursor& f) { return AddressFamily(f, 12); }  // family, SPI, flags

// Header length (padded to 4 bytes), then the address family.
int Pflog(const PacketCursor& f)
{
    if (!f.Has(0, 2) || f.U8(1) != 2) return NONE;
    return (f.U8(0) + 3) & ~3;
}

// Q.922 address (2 to 4 bytes, the last with its low bit set); then either control 0x03,
// an optional pad byte and an NLPID (0xCC IPv4, 0x80 SNAP), or (Cisco's) an EtherType.
int FrameRelay(const PacketCursor& f)
{
    int64_t at = 0;
    while (f.Has(at) && (f.U8(at) & 1) == 0 && at < 4) ++at;
    if (!f.Has(at) || (f.U8(at) & 1) == 0 || at == 0) return NONE;
    ++at;
    if (!f.Has(at, 2)) return NONE;
    if (f.U8(at) != 0x03) return AfterEtherType(f.Be16(at), f, at + 2);
    ++at;
    if (f.Has(at) && f.U8(at) == 0x00) ++at;
    if (!f.Has(at)) return NONE;
    if (f.U8(at) == 0xCC) return static_cast<int>(at + 1);
    if (f.U8(at) == 0x80 && f.Has(at + 1, 5)) return AfterEtherType(f.Be16(at + 4), f, at + 6);
    return NONE;
}

// Linux netfilter log: family (2, AF_INET), version, resource id, then type-length-value
// items, each padded to 4 bytes; the payload (type 9) is the datagram. The items are in the
// writer's byte order, which the header does not give: a length that does not fit the
// frame read one way is read the other way.
int Nflog(const PacketCursor& f)
{
    constexpr uint16_t PAYLOAD = 9;
    if (!f.Has(0, 4) || f.U8(0) != 2) return NONE;
    const auto le16 = [&](int64_t at) { return static_cast<uint16_t>(f.U8(at) | f.U8(at + 1) << 8); };
    for (const bool little : {true, false}) {
        int64_t at = 4;
        for (int items = 0; items < 64 && f.Has(at, 4); ++items) {
            const uint16_t length = little ? le16(at) : f.Be16(at);
            const uint16_t type = static_cast<uint16_t>((little ? le16(at + 2) : f.Be16(at + 2)) & 0x7FFF);
            if (length < 4 || !f.Has(at, length)) break;
            if (type == PAYLOAD) return IfIpv4(f, at + 4);
            at += (length + 3) & ~3;
        }
    }
    return NONE;
}

// Solaris ipnet: version, family (2: IPv4), ..., 24 bytes in all.
int Ipnet(const PacketCursor& f) { return f.Has(0, 24) && f.U8(1) == 2 ? 24 : NONE; }

// Linux cooked capture: the protocol field is an EtherType.
int LinuxCooked(const PacketCursor& f) { return f.Has(0, 16) ? AfterEtherType(f.Be16(14), f, 16) : NONE; }
int LinuxCookedV2(const PacketCursor& f) { return f.Has(0, 20) ? AfterEtherType(f.Be16(0), f, 20) : NONE; }

// ARCnet: the protocol byte tells the header's form; 212 and 240 are IPv4. In the newer
// form (212) a split flag follows: 0xFF marks a longer exception header, an even flag
// other than 0 a fragment after the first, which holds no IP header.
int ArcnetAt(const PacketCursor& f, int64_t protocol)
{
    if (!f.Has(protocol)) return NONE;
    if (f.U8(protocol) == 240) return static_cast<int>(protocol + 1);
    if (f.U8(protocol) != 212 || !f.Has(protocol + 1)) return NONE;
    const uint8_t split = f.U8(protocol + 1);
    if (split == 0xFF) return static_cast<int>(protocol + 8);
    if (split != 0 && (split & 1) == 0) return NONE;
    return static_cast<int>(protocol + 4);
}
int Arcnet(const PacketCursor& f) { return ArcnetAt(f, 2); }       // source, destination
int ArcnetLinux(const PacketCursor& f) { return ArcnetAt(f, 4); }  // ... and a 2-byte offset

// IP over InfiniBand: a 40-byte address header, then the EtherType and 2 reserved bytes.
int IpOverInfiniband(const PacketCursor& f) { return f.Has(0, 44) ? AfterEtherType(f.Be16(40), f, 44) : NONE; }

// Juniper: "MGC", flags, an extension (its length, 2 bytes, then its items) when flag 0x80,
// then an Ethernet frame, or with flag 0x02 (no link layer) 4 bytes and the datagram.
int JuniperEthernet(const PacketCursor& f)
{
    if (!f.Has(0, 4) || f.U8(0) != 'M' || f.U8(1) != 'G' || f.U8(2) != 'C') return NONE;
    const uint8_t flags = f.U8(3);
    int64_t at = 4;
    if (flags & 0x80) {
        if (!f.Has(at, 2)) return NONE;
        at += 2 + f.Be16(at);
    }
    if (flags & 0x02) return IfIpv4(f, at + 4);
    return Ethernet(f, at);
}

// Netanalyzer: a 4-byte status header before the Ethernet frame; transparent mode also
// keeps the preamble and start-of-frame delimiter (8 bytes).
int Netanalyzer(const PacketCursor& f) { return Ethernet(f, 4); }
int NetanalyzerTransparent(const PacketCursor& f) { return Ethernet(f, 12); }

// Classical IP over ATM: LLC/SNAP, then the EtherType.
int AtmClip(const PacketCursor& f)
{
    if (!f.Has(0, 8) || f.U8(0) != 0xAA || f.U8(1) != 0xAA || f.U8(2) != 0x03) return NONE;
    return AfterEtherType(f.Be16(6), f, 8);
}

int Pktap(const PacketCursor& f);

struct LinkType {
    int number;
    const char* name;
    int (*offset)(const PacketCursor&);  // null: not taken
};

// Ordered by number. Names as users know the links; those without a walk are named for
// the message that a file holds no link the reader takes.
constexpr LinkType LINK_TYPES[] = {
    {0, "BSD loopback", Null},
    {1, "Ethernet", EthernetFrame},
    {6, "Token Ring", nullptr},
    {7, "ARCnet", Arcnet},
    {8, "SLIP", nullptr},
    {9, "PPP", PppFrame},
    {10, "FDDI", nullptr},
    {12, "raw IP", Raw},  // as some writers stored it before 101
    {14, "raw IP", Raw},  // OpenBSD's number
    {19, "Classical IP over ATM", AtmClip},
    {50, "PPP in HDLC-like framing", PppHdlc},
    {51, "PPPoE", PppoeSession},
    {101, "raw IP", Raw},
    {104, "Cisco HDLC", CiscoHdlc},
    {105, "IEEE 802.11", nullptr},
    {107, "Frame Relay", FrameRelay},
    {108, "OpenBSD loopback", Null},
    {109, "OpenBSD IPsec encapsulation", Enc},
    {113, "Linux cooked", LinuxCooked},
    {117, "OpenBSD pflog", Pflog},
    {119, "IEEE 802.11 with Prism header", nullptr},
    {127, "IEEE 802.11 with radiotap header", nullptr},
    {129, "Linux ARCnet", ArcnetLinux},
    {163, "IEEE 802.11 with AVS header", nullptr},
    {166, "PPP with direction", PppWithDirection},
    {178, "Juniper Ethernet", JuniperEthernet},
    {187, "Bluetooth HCI", nullptr},
    {189, "Linux USB", nullptr},
    {192, "PPI", nullptr},
    {195, "IEEE 802.15.4", nullptr},
    {201, "Bluetooth HCI with direction", nullptr},
    {215, "IEEE 802.15.4 without FCS", nullptr},
    {219, "MPLS", Mpls},
    {220, "Linux USB (memory-mapped)", nullptr},
    {226, "Solaris ipnet", Ipnet},
    {227, "SocketCAN", nullptr},
    {228, "IPv4", Ipv4},
    {229, "IPv6", nullptr},
    {239, "Linux netfilter log", Nflog},
    {240, "netANALYZER", Netanalyzer},
    {241, "netANALYZER transparent", NetanalyzerTransparent},
    {242, "IP over InfiniBand", IpOverInfiniband},
    {249, "USB packets", nullptr},

    {LINKTYPE_PKTAP, "Apple PKTAP", Pktap},
    {276, "Linux cooked v2", LinuxCookedV2},
};

const LinkType* Find(int number)
{
    for (const LinkType& type : LINK_TYPES)
        if (type.number == number) return &type;
    return nullptr;
}

// Apple's packet tap: a header of its own length (little-endian, as every field) naming
// the link type of the frame after it.
int Pktap(const PacketCursor& f)
{
    if (!f.Has(0, 12)) return NONE;
    const auto le32 = [&](int64_t at) {
        return static_cast<uint32_t>(f.U8(at) | f.U8(at + 1) << 8 | f.U8(at + 2) << 16) |
               static_cast<uint32_t>(f.U8(at + 3)) << 24;
    };
    const uint32_t length = le32(0), inner = le32(8);
    const LinkType* type = Find(static_cast<int>(inner));
    if (length < 12 || !f.Has(length) || !type || !type->offset || type->number == LINKTYPE_PKTAP) return NONE;
    const int offset = type->offset(f.At(length));
    return offset < 0 ? NONE : static_cast<int>(length) + offset;
}

}  // namespace

int DatagramOffset(int linkType, const uint8_t* frame, uint32_t captured)
{
    const LinkType* type = Find(linkType);
    if (!type || !type->offset) return NONE;
    const int offset = type->offset(PacketCursor(frame, static_cast<int32_t>(captured)));
    if (offset < 0 || static_cast<uint32_t>(offset) >= captured) return NONE;
    return offset;
}

bool TakesLinkType(int linkType)
{
    const LinkType* type = Find(linkType);
    return type && type->offset;
}

std::string LinkTypeName(int linkType)
{
    const LinkType* type = Find(linkType);
    const std::string number = std::to_string(linkType);
    return type ? type->name + std::string(" (") + number + ")" : "link type " + number;
}

}  // namespace kestrine
