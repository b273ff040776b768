// What a provider knows of one adapter, and how it lays adapters out as IP Helper records
// in a caller's buffer: the records first, further chain entries after them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "netinfo/ip_helper.h"

namespace kestrine {

// Platform interface type codes shown by name; anything else shows as unknown.
enum InterfaceType : uint32_t {
    IF_TYPE_OTHER_CODE = 1,
    IF_TYPE_ETHERNET = 6,
    IF_TYPE_TOKENRING = 9,
    IF_TYPE_FDDI = 15,
    IF_TYPE_PPP = 23,
    IF_TYPE_LOOPBACK = 24,
    IF_TYPE_SLIP = 28,
    IF_TYPE_WIRELESS = 71,
    IF_TYPE_TUNNEL = 131,
    IF_TYPE_IEEE1394 = 144,
    IF_TYPE_INFINIBAND = 199,
};

struct AdapterAddress {
    std::string address;  // dotted
    std::string mask;     // dotted
};

struct AdapterData {
    uint32_t index = 0;
    std::string name;
    std::string description;
    std::vector<uint8_t> hardwareAddress;  // 0 to 8 bytes are kept
    uint32_t type = IF_TYPE_OTHER_CODE;
    bool dhcpEnabled = false;
    std::vector<AdapterAddress> addresses;  // none: one 0.0.0.0/0.0.0.0 entry is laid out
    std::string dhcpServer = "0.0.0.0";
    int64_t leaseObtained = 0;
    int64_t leaseExpires = 0;
};

// Room the size reported with 111 leaves beyond the present records. The provider reads
// the list afresh at every call, and it may grow before the caller's one retry: the size
// fits at least HEADROOM_ADAPTERS more adapters of one address each plus HEADROOM_ADDRESSES
// more addresses, or a quarter more of each on hosts with many.
inline constexpr size_t HEADROOM_ADAPTERS = 8;
inline constexpr size_t HEADROOM_ADDRESSES = 32;  // beyond the first of each adapter
inline constexpr size_t HEADROOM_DNS_SERVERS = 8;
inline constexpr size_t HEADROOM_SHARE_DIVISOR = 4;

// How many more entries of one kind the reported size leaves room for.
constexpr size_t RoomToGrow(size_t present, size_t minimum)
{
    return std::max(minimum, present / HEADROOM_SHARE_DIVISOR);
}

// 0 and the records in buffer when they fit into *size; 111 and a size with headroom
// otherwise; IPHLP_NO_DATA for an empty list. Never writes past *size bytes.
uint32_t LayOutAdapters(const std::vector<AdapterData>& adapters, IP_ADAPTER_INFO* buffer, uint32_t* size);
uint32_t LayOutPerAdapter(const std::vector<std::string>& dnsServers, IP_PER_ADAPTER_INFO* buffer, uint32_t* size);

// Parsers of the files that tell DHCP servers and DNS servers. Malformed input yields
// nothing; only dotted IPv4 addresses are taken.
std::string NetworkdLeaseServer(std::string_view text);
std::string DhclientLeaseServer(std::string_view text, std::string_view interfaceName);
std::vector<std::string> ResolvConfServers(std::string_view text);
std::vector<std::string> ResolvedLinkServers(std::string_view text);

// The platform type code of a Linux link (ARPHRD_* value).
uint32_t InterfaceTypeOfLink(unsigned linkType, bool wireless);
// A value of a device database entry ("E:KEY=value" lines, as udev keeps them under
// /run/udev/data), "" when absent.
std::string DeviceDatabaseValue(std::string_view entry, std::string_view key);
// The description a Linux adapter shows: "vendor model (name)" from the hardware database
// names of the device database entry, "model (name)" without a vendor, otherwise
// "driver (name)", "Loopback (name)" for a loopback link, "name" alone when nothing else
// is known. Single-byte (Latin-1) text like the platform's records, '?' for characters
// outside it; the names are cut, ending in "...", so that it fits the Description field
// with the interface name kept whole.
std::string DescribeLinuxAdapter(std::string_view deviceEntry, std::string_view driver, std::string_view name,
                                 bool loopback);

}  // namespace kestrine
