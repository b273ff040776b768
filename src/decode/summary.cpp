// Summary line: index, time, size, protocol, addresses and the Information column.
//
// A record too short for a read (the capture can store any datagram the link delivered)
// never has a byte past its captured length read: an address that was not captured shows
// as "?", a missing protocol byte shows "?" in the Proto column, and a transport field
// that was not captured leaves the Information column empty.
#include "decode/summary.h"

#include "common/ip_protocols.h"
#include "common/packet_cursor.h"
#include "common/text_format.h"
#include "decode/headers.h"
#include "decode/line_format.h"
#include "decode/names.h"

namespace kestrine {

namespace {

void AddressText(const PacketCursor& ip, int offset, char (&out)[DOTTED_QUAD_SIZE])
{
    if (ip.Has(offset, 4)) {
        FormatDottedQuad(ip.Be32(offset), out);
    } else {
        out[0] = '?';
        out[1] = '\0';
    }
}

}  // namespace

void InformationText(uint8_t protocol, const PacketCursor& transport, char (&out)[INFORMATION_CAPACITY])
{
    out[0] = '\0';
    char name[24];
    switch (protocol) {
    case IP_PROTOCOL_IP: FormatLine(out, sizeof out, "IPINFO?"); break;
    case IP_PROTOCOL_ICMP:
        if (transport.Has(0)) FormatLine(out, sizeof out, "%s", IcmpTypeName(transport.U8(0), name));
        break;
    case IP_PROTOCOL_IGMP:
        if (transport.Has(0)) FormatLine(out, sizeof out, "%s", IgmpTypeName(transport.U8(0) & 0x0F, name));
        break;
    case IP_PROTOCOL_TCP:
        if (transport.Has(13)) {
            char words[TCP_FLAG_TEXT_SIZE];
            FormatTcpFlagWords(transport.U8(13), words);
            FormatLine(out, sizeof out, "<%s >", words);
        }
        break;
    case IP_PROTOCOL_UDP:
        if (transport.Has(0, 4)) {
            const uint16_t source = transport.Be16(0);
            const uint16_t destination = transport.Be16(2);
            if (*ServiceName(destination)) {
                FormatLine(out, sizeof out, "%s", ServiceName(destination));
            } else if (*ServiceName(source)) {
                FormatLine(out, sizeof out, "%s", ServiceName(source));
            } else {
                FormatLine(out, sizeof out, "Dst Port %d", destination);
            }
        }
        break;
    default: break;
    }
}

int FormatSummaryLine(const PacketRecord& record, int64_t index, char* out, int capacity)
{
    const PacketCursor ip(record.data, record.data ? record.length : 0);
    const bool haveProtocol = ip.Has(9);
    const uint8_t protocol = haveProtocol ? ip.U8(9) : 0;
    char info[INFORMATION_CAPACITY] = "";
    // A later fragment carries bytes from the middle of its datagram: no transport header
    // to read names or flags from. (Protocol 0's text does not come from there.)
    const bool fragmentBody = protocol != 0 && IsLaterFragment(ip);
    if (haveProtocol && !fragmentBody) InformationText(protocol, ip.At((ip.U8(0) & 0x0F) * 4), info);
    char source[DOTTED_QUAD_SIZE], destination[DOTTED_QUAD_SIZE];
    AddressText(ip, 12, source);
    AddressText(ip, 16, destination);

    // "%5lld % 13.6f  %4d  %-5s  %-16s %-16s  %-15s", built directly: every line of the list
    // and every packet a search reads comes through here.
    return LineBuilder(out, capacity)
        .Signed(index, 5)
        .Text(" ")
        .Fixed(static_cast<double>(record.timestamp), 13, 6)
        .Text("  ")
        .Signed(record.length, 4)
        .Text("  ")
        .Left(haveProtocol ? ProtocolName(protocol) : "?", 5)
        .Text("  ")
        .Left(source, 16)
        .Text(" ")
        .Left(destination, 16)
        .Text("  ")
        .Left(info, 15)
        .Finish();
}

NodeId AddSummaryLine(SummaryTarget& target, const PacketRecord& record, int64_t index)
{
    char line[256];
    const int n = FormatSummaryLine(record, index, line, sizeof line);
    return target.AddTopLevelLine(std::string_view(line, static_cast<size_t>(n)));
}

}  // namespace kestrine
