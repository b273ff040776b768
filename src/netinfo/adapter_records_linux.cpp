// Record layout, the parsers of lease, resolver and link files, and adapter descriptions.
#include "netinfo/adapter_records.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace kestrine {

namespace {

template <size_t N>
void CopyText(char (&target)[N], std::string_view text)
{
    const size_t n = std::min(text.size(), N - 1);
    if (n > 0) std::memcpy(target, text.data(), n);
    target[n] = '\0';
}

void FillEntry(IP_ADDR_STRING& entry, std::string_view address, std::string_view mask)
{
    entry = IP_ADDR_STRING{};
    CopyText(entry.IpAddress.String, address);
    CopyText(entry.IpMask.String, mask);
}

bool IsDottedIpv4(std::string_view text)
{
    if (text.empty() || text.size() > 15) return false;
    char copy[16] = {};
    std::memcpy(copy, text.data(), text.size());
    in_addr a{};
    return inet_pton(AF_INET, copy, &a) == 1;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

template <typename Visit>
void ForEachLine(std::string_view text, Visit visit)
{
    while (!text.empty()) {
        const size_t end = text.find('\n');
        visit(Trim(text.substr(0, end)));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}

// The IPv4 part of a resolver entry such as "192.0.2.53", "192.0.2.53#dns.example" or
// "192.0.2.53:53%2"; "" for IPv6 and anything else.
std::string Ipv4Part(std::string_view token)
{
    const size_t cut = token.find_first_of("#:% \t");
    token = token.substr(0, cut);
    return IsDottedIpv4(token) ? std::string(token) : std::string();
}

uint32_t ReportedSize(size_t needed, size_t headroom)
{
    return static_cast<uint32_t>(std::min<size_t>(needed + headroom, UINT32_MAX));
}

bool IsContinuation(std::string_view text, size_t at)
{
    return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
}

// UTF-8 (how the device database keeps names) as Latin-1 (how the records hold text, and
// how the tree shows it): code points up to U+00FF as one byte each, control characters
// as spaces, anything else, well-formed or not, as '?'.
std::string Latin1FromUtf8(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        unsigned code = '?';
        size_t length = 1;
        if (lead < 0x80) {
            code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF && IsContinuation(text, i + 1)) {
            code = (lead & 0x1Fu) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xF4) {
            const size_t expected = lead >= 0xF0 ? 4 : 3;
            while (length < expected && IsContinuation(text, i + length)) ++length;
            if (length < expected) length = 1;  // a broken sequence: its bytes one by one
        }
        if (code < 0x20 || (code >= 0x7F && code < 0xA0)) code = ' ';
        out.push_back(static_cast<char>(code <= 0xFF ? code : '?'));
        i += length;
    }
    return out;
}

}  // namespace

uint32_t LayOutAdapters(const std::vector<AdapterData>& adapters, IP_ADAPTER_INFO* buffer, uint32_t* size)
{
    if (adapters.empty()) return IPHLP_NO_DATA;
    size_t extra = 0;
    for (const AdapterData& a : adapters) extra += a.addresses.size() > 1 ? a.addresses.size() - 1 : 0;
    const size_t needed = adapters.size() * sizeof(IP_ADAPTER_INFO) + extra * sizeof(IP_ADDR_STRING);
    if (needed > UINT32_MAX) return IPHLP_NO_DATA;
    if (!buffer || *size < needed) {
        const size_t headroom = RoomToGrow(adapters.size(), HEADROOM_ADAPTERS) * sizeof(IP_ADAPTER_INFO) +
                                RoomToGrow(extra, HEADROOM_ADDRESSES) * sizeof(IP_ADDR_STRING);
        *size = ReportedSize(needed, headroom);
        return IPHLP_BUFFER_OVERFLOW;
    }
    auto* more = reinterpret_cast<IP_ADDR_STRING*>(reinterpret_cast<uint8_t*>(buffer) +
                                                   adapters.size() * sizeof(IP_ADAPTER_INFO));
    for (size_t i = 0; i < adapters.size(); ++i) {
        const AdapterData& a = adapters[i];
        IP_ADAPTER_INFO& r = buffer[i];
        r = IP_ADAPTER_INFO{};
        r.Next = i + 1 < adapters.size() ? &buffer[i + 1] : nullptr;
        CopyText(r.AdapterName, a.name);
        CopyText(r.Description, a.description);
        r.AddressLength = static_cast<uint32_t>(std::min<size_t>(a.hardwareAddress.size(), ADAPTER_ADDRESS_BYTES));
        if (r.AddressLength > 0) std::memcpy(r.Address, a.hardwareAddress.data(), r.AddressLength);
        r.Index = a.index;
        r.Type = a.type;
        r.DhcpEnabled = a.dhcpEnabled ? 1 : 0;
        if (a.addresses.empty()) {
            FillEntry(r.IpAddressList, "0.0.0.0", "0.0.0.0");
        } else {
            FillEntry(r.IpAddressList, a.addresses[0].address, a.addresses[0].mask);
            IP_ADDR_STRING* last = &r.IpAddressList;
            for (size_t k = 1; k < a.addresses.size(); ++k) {
                FillEntry(*more, a.addresses[k].address, a.addresses[k].mask);
                last->Next = more;
                last = more++;
            }
        }
        FillEntry(r.DhcpServer, a.dhcpServer, "");
        r.LeaseObtained = a.leaseObtained;
        r.LeaseExpires = a.leaseExpires;
    }
    return IPHLP_NO_ERROR;
}

uint32_t LayOutPerAdapter(const std::vector<std::string>& dnsServers, IP_PER_ADAPTER_INFO* buffer, uint32_t* size)
{
    if (dnsServers.empty()) return IPHLP_NO_DATA;
    const size_t needed = sizeof(IP_PER_ADAPTER_INFO) + (dnsServers.size() - 1) * sizeof(IP_ADDR_STRING);
    if (!buffer || *size < needed) {
        *size = ReportedSize(needed, RoomToGrow(dnsServers.size(), HEADROOM_DNS_SERVERS) * sizeof(IP_ADDR_STRING));
        return IPHLP_BUFFER_OVERFLOW;
    }
    *buffer = IP_PER_ADAPTER_INFO{};
    auto* more = reinterpret_cast<IP_ADDR_STRING*>(buffer + 1);
    FillEntry(buffer->DnsServerList, dnsServers[0], "");
    IP_ADDR_STRING* last = &buffer->DnsServerList;
    for (size_t k = 1; k < dnsServers.size(); ++k) {
        FillEntry(*more, dnsServers[k], "");
        last->Next = more;
        last = more++;
    }
    return IPHLP_NO_ERROR;
}

std::string NetworkdLeaseServer(std::string_view text)
{
    std::string server;
    ForEachLine(text, [&](std::string_view line) {
        constexpr std::string_view key = "SERVER_ADDRESS=";
        if (line.substr(0, key.size()) == key && IsDottedIpv4(Trim(line.substr(key.size()))))
            server = std::string(Trim(line.substr(key.size())));
    });
    return server;
}

std::string DhclientLeaseServer(std::string_view text, std::string_view interfaceName)
{
    // lease { interface "eth0"; ... option dhcp-server-identifier 192.0.2.1; ... }
    // The last complete lease block of the interface wins, as dhclient appends renewals.
    std::string server, blockServer;
    bool inBlock = false, blockMatches = false;
    ForEachLine(text, [&](std::string_view line) {
        if (line.substr(0, 5) == "lease" && line.find('{') != std::string_view::npos) {
            inBlock = true;
            blockMatches = false;
            blockServer.clear();
        } else if (inBlock && line.substr(0, 1) == "}") {
            if (blockMatches && !blockServer.empty()) server = blockServer;
            inBlock = false;
        } else if (inBlock && line.substr(0, 9) == "interface") {
            std::string_view value = Trim(line.substr(9));
            if (value.size() >= 3 && value.front() == '"' && value.substr(value.size() - 2) == "\";")
                blockMatches = value.substr(1, value.size() - 3) == interfaceName;
        } else if (inBlock) {
            constexpr std::string_view key = "option dhcp-server-identifier ";
            if (line.substr(0, key.size()) == key && line.back() == ';') {
                const std::string_view value = Trim(line.substr(key.size(), line.size() - key.size() - 1));
                if (IsDottedIpv4(value)) blockServer = std::string(value);
            }
        }
    });
    return server;
}

std::vector<std::string> ResolvConfServers(std::string_view text)
{
    std::vector<std::string> servers;
    ForEachLine(text, [&](std::string_view line) {
        constexpr std::string_view key = "nameserver";
        if (line.substr(0, key.size()) != key || line.size() == key.size()) return;
        if (line[key.size()] != ' ' && line[key.size()] != '\t') return;
        const std::string v4 = Ipv4Part(Trim(line.substr(key.size())));
        if (!v4.empty()) servers.push_back(v4);
    });
    return servers;
}

std::vector<std::string> ResolvedLinkServers(std::string_view text)
{
    std::vector<std::string> servers;
    ForEachLine(text, [&](std::string_view line) {
        std::string_view value;
        if (line.substr(0, 8) == "SERVERS=") value = line.substr(8);
        else if (line.substr(0, 4) == "DNS=") value = line.substr(4);
        else return;
        while (!value.empty()) {
            const size_t end = value.find(' ');
            const std::string v4 = Ipv4Part(value.substr(0, end));
            if (!v4.empty() && std::find(servers.begin(), servers.end(), v4) == servers.end()) servers.push_back(v4);
            if (end == std::string_view::npos) break;
            value.remove_prefix(end + 1);
        }
    });
    return servers;
}

uint32_t InterfaceTypeOfLink(unsigned linkType, bool wireless)
{
    switch (linkType) {
    case 1: return wireless ? IF_TYPE_WIRELESS : IF_TYPE_ETHERNET;  // ARPHRD_ETHER
    case 772: return IF_TYPE_LOOPBACK;                                // ARPHRD_LOOPBACK
    case 512: return IF_TYPE_PPP;                                     // ARPHRD_PPP
    case 256:                                                         // ARPHRD_SLIP
    case 257: return IF_TYPE_SLIP;                                    // ARPHRD_CSLIP
    case 800: return IF_TYPE_TOKENRING;                               // ARPHRD_IEEE802_TR
    case 774: return IF_TYPE_FDDI;                                    // ARPHRD_FDDI
    case 768:                                                         // ARPHRD_TUNNEL
    case 769:                                                         // ARPHRD_TUNNEL6
    case 776:                                                         // ARPHRD_SIT
    case 778: return IF_TYPE_TUNNEL;                                  // ARPHRD_IPGRE
    case 24: return IF_TYPE_IEEE1394;                                 // ARPHRD_IEEE1394
    case 32: return IF_TYPE_INFINIBAND;                               // ARPHRD_INFINIBAND
    default: return IF_TYPE_OTHER_CODE;
    }
}

std::string DeviceDatabaseValue(std::string_view entry, std::string_view key)
{
    std::string value;
    bool found = false;
    ForEachLine(entry, [&](std::string_view line) {
        if (found || line.substr(0, 2) != "E:" || line.size() < 3 + key.size()) return;
        if (line.substr(2, key.size()) != key || line[2 + key.size()] != '=') return;
        value = std::string(line.substr(3 + key.size()));
        found = true;
    });
    return value;
}

std::string DescribeLinuxAdapter(std::string_view deviceEntry, std::string_view driver, std::string_view name,
                                 bool loopback)
{
    constexpr size_t LIMIT = ADAPTER_DESCRIPTION_CHARS - 1;
    constexpr std::string_view CUT_MARK = "...";
    const auto shown = [](std::string_view text) { return std::string(Trim(Latin1FromUtf8(Trim(text)))); };

    std::string label;
    if (loopback) {
        label = "Loopback";  // no driver, no device behind it
    } else {
        const std::string vendor = shown(DeviceDatabaseValue(deviceEntry, "ID_VENDOR_FROM_DATABASE"));
        const std::string model = shown(DeviceDatabaseValue(deviceEntry, "ID_MODEL_FROM_DATABASE"));
        // A vendor alone tells two cards of one maker apart no better than their driver.
        if (!model.empty()) label = vendor.empty() ? model : vendor + " " + model;
        else label = shown(driver);
    }
    std::string text = shown(name);
    if (!label.empty()) {
        const std::string suffix = " (" + text + ")";
        if (label.size() + suffix.size() > LIMIT && suffix.size() + CUT_MARK.size() < LIMIT) {
            label.resize(LIMIT - suffix.size() - CUT_MARK.size());
            label = std::string(Trim(label)) + std::string(CUT_MARK);
        }
        text = label + suffix;
    }
    // Only a name longer than the kernel allows gets here too long; it is cut like the record's.
    if (text.size() > LIMIT) text.resize(LIMIT);
    return text;
}

}  // namespace kestrine
