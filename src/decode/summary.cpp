// Summary line: index, time, size, protocol, addresses and the Information column.
//
// A record too short for a read (the capture can store any datagram the link delivered)
// never has a byte past its captured length read: an address that was not captured shows
// as "?", a missing protocol byte shows "?" in the Proto column, and a transport field
// that was not captured leaves the Information column empty.
#include "decode/summary.h"


#include "decode/line_format.h"
#include "decode/names.h"

namespace kestrine {

namespace {

bool Has(int32_t length, int64_t offset, int64_t width) { return offset >= 0 && offset + width <= length; }

void AddressText(const uint8_t* data, int32_t length, int offset, char (&out)[16])
{
    if (!Has(length, offset, 4)) {
        FormatLine(out, sizeof out, "?");
        return;
    }
    FormatLine(out, sizeof out, "%u.%u.%u.%u", data[offset], data[offset + 1], data[offset + 2], data[offset + 3]);
}

}  // namespace

void InformationText(uint8_t protocol, const uint8_t* data, int32_t length, int32_t offset,
                     char (&out)[INFORMATION_CAPACITY])
{
    out[0] = '\0';
    char name[24];
    switch (protocol) {
    case 0: FormatLine(out, sizeof out, "IPINFO?"); break;
    case 1:
        if (Has(length, offset, 1)) FormatLine(out, sizeof out, "%s", IcmpTypeName(data[offset], name));
        break;
    case 2:
        if (Has(length, offset, 1)) FormatLine(out, sizeof out, "%s", IgmpTypeName(data[offset] & 0x0F, name));
        break;
    case 6:
        if (Has(length, offset, 14)) {
            const uint8_t f = data[offset + 13];
            FormatLine(out, sizeof out, "<%s%s%s%s%s%s >", f & 0x20 ? " URG" : "", f & 0x10 ? " ACK" : "",
                          f & 0x08 ? " PSH" : "", f & 0x04 ? " RST" : "", f & 0x02 ? " SYN" : "",
                          f & 0x01 ? " FIN" : "");
        }
        break;
    case 17:
        if (Has(length, offset, 4)) {
            const auto source = static_cast<uint16_t>(data[offset] << 8 | data[offset + 1]);
            const auto destination = static_cast<uint16_t>(data[offset + 2] << 8 | data[offset + 3]);
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

int FormatSummaryLine(const PacketRecord& record, int32_t index, char* out, int capacity)
{
    const uint8_t* d = record.data;
    const int32_t length = record.data ? record.length : 0;
    const bool haveProtocol = Has(length, 9, 1);
    const uint8_t protocol = haveProtocol ? d[9] : 0;
    char info[INFORMATION_CAPACITY] = "";
    if (haveProtocol) InformationText(protocol, d, length, (d[0] & 0x0F) * 4, info);
    char source[16], destination[16];
    AddressText(d, length, 12, source);
    AddressText(d, length, 16, destination);

    return FormatLine(out, capacity, "%5d % 13.6f  %4d  %-5s  %-16s %-16s  %-15s", index,
                                static_cast<double>(record.timestamp), record.length,
                      haveProtocol ? ProtocolName(protocol) : "?", source, destination, info);
}

NodeId AddSummaryLine(SummaryTarget& target, const PacketRecord& record, int32_t index)
{
    char line[256];
    const int n = FormatSummaryLine(record, index, line, sizeof line);
    return target.AddTopLevelLine(std::string_view(line, static_cast<size_t>(n)));
}

}  // namespace kestrine
