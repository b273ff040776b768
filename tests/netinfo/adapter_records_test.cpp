// Record layout, the lease, resolver and link-file parsers (malformed input included), and
// the Linux adapter descriptions.
#include "netinfo/adapter_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/netinfo/netinfo_test_util.h"

namespace kestrine {
namespace {

using testing::MakeAdapter;
using testing::ReportedAdaptersSize;
using testing::ReportedPerAdapterSize;

constexpr uint8_t GUARD_BYTE = 0xA5;

// A buffer of size bytes followed by guard bytes that the layout must leave alone.
struct GuardedBuffer {
    static constexpr size_t GUARD_BYTES = 256;
    explicit GuardedBuffer(size_t size) : size(size), storage((size + GUARD_BYTES) / 8 + 1)
    {
        std::memset(storage.data(), GUARD_BYTE, storage.size() * 8);
    }
    template <typename Record>
    Record* As() { return reinterpret_cast<Record*>(storage.data()); }
    bool GuardIntact() const
    {
        const auto* bytes = reinterpret_cast<const uint8_t*>(storage.data());
        for (size_t i = size; i < size + GUARD_BYTES; ++i)
            if (bytes[i] != GUARD_BYTE) return false;
        return true;
    }
    size_t size;
    std::vector<uint64_t> storage;
};

std::vector<AdapterAddress> Addresses(size_t count)
{
    std::vector<AdapterAddress> addresses;
    for (size_t k = 0; k < count; ++k)
        addresses.push_back({"198.18." + std::to_string(k / 256) + "." + std::to_string(k % 256), "255.255.0.0"});
    return addresses;
}

TEST(AdapterRecords, LayoutChainsRecordsAndExtraAddresses)
{
    AdapterData a;
    a.index = 3;
    a.name = std::string(300, 'n');         // cut to the record's 259 characters
    a.description = std::string(200, 'd');  // cut to 131
    a.hardwareAddress = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};  // at most 8 bytes are kept
    a.addresses = {{"198.18.0.1", "255.255.255.0"}, {"198.18.1.1", "255.255.0.0"}, {"198.18.2.1", "255.0.0.0"}};
    AdapterData b;
    b.index = 4;
    b.name = "dummy0";

    const size_t needed = 2 * sizeof(IP_ADAPTER_INFO) + 2 * sizeof(IP_ADDR_STRING);
    uint32_t size = 0;
    EXPECT_EQ(LayOutAdapters({a, b}, nullptr, &size), IPHLP_BUFFER_OVERFLOW);
    ASSERT_GE(size, needed);
    const uint32_t reported = size;
    // The records need exactly needed bytes, and the layout keeps within the size given.
    GuardedBuffer buffer(needed);
    auto* records = buffer.As<IP_ADAPTER_INFO>();
    uint32_t small = static_cast<uint32_t>(needed - 1);
    EXPECT_EQ(LayOutAdapters({a, b}, records, &small), IPHLP_BUFFER_OVERFLOW);
    EXPECT_EQ(small, reported);
    size = static_cast<uint32_t>(needed);
    ASSERT_EQ(LayOutAdapters({a, b}, records, &size), IPHLP_NO_ERROR);
    EXPECT_TRUE(buffer.GuardIntact());

    EXPECT_EQ(records[0].Next, &records[1]);
    EXPECT_EQ(records[1].Next, nullptr);
    EXPECT_EQ(std::string(records[0].AdapterName).size(), 259u);
    EXPECT_EQ(std::string(records[0].Description).size(), 131u);
    EXPECT_EQ(records[0].AddressLength, 8u);
    const IP_ADDR_STRING* e = &records[0].IpAddressList;
    std::vector<std::string> seen;
    for (; e; e = e->Next) {
        seen.push_back(std::string(e->IpAddress.String) + "/" + e->IpMask.String);
        const auto* at = reinterpret_cast<const uint8_t*>(e);
        EXPECT_TRUE(at >= reinterpret_cast<const uint8_t*>(records) &&
                    at + sizeof(IP_ADDR_STRING) <= reinterpret_cast<const uint8_t*>(records) + size);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"198.18.0.1/255.255.255.0", "198.18.1.1/255.255.0.0",
                                              "198.18.2.1/255.0.0.0"}));
    // No IPv4 address: one 0.0.0.0 entry, as the platform's records have.
    EXPECT_STREQ(records[1].IpAddressList.IpAddress.String, "0.0.0.0");
    EXPECT_STREQ(records[1].IpAddressList.IpMask.String, "0.0.0.0");
    EXPECT_EQ(records[1].IpAddressList.Next, nullptr);
    EXPECT_STREQ(records[1].DhcpServer.IpAddress.String, "0.0.0.0");

    EXPECT_EQ(LayOutAdapters({}, records, &size), IPHLP_NO_DATA);
    EXPECT_EQ(LayOutPerAdapter({}, nullptr, &size), IPHLP_NO_DATA);
}

TEST(AdapterRecords, ReportedSizeFitsAGrownList)
{
    for (size_t count : {1u, 3u, 40u, 400u}) {
        // count adapters of two addresses each, then more adapters and more addresses.
        std::vector<AdapterData> adapters;
        for (size_t i = 0; i < count; ++i) adapters.push_back(MakeAdapter(static_cast<uint32_t>(i + 1), Addresses(2)));
        uint32_t size = ReportedAdaptersSize(adapters);
        ASSERT_GT(size, 0u);
        std::vector<AdapterData> grown = adapters;
        const size_t moreAdapters = RoomToGrow(count, HEADROOM_ADAPTERS);
        const size_t moreAddresses = RoomToGrow(count, HEADROOM_ADDRESSES);
        for (size_t i = 0; i < moreAdapters; ++i) grown.push_back(MakeAdapter(static_cast<uint32_t>(count + i + 1)));
        grown.front().addresses = Addresses(2 + moreAddresses);
        EXPECT_GE(moreAdapters, HEADROOM_ADAPTERS);
        EXPECT_GE(moreAddresses, HEADROOM_ADDRESSES);

        GuardedBuffer buffer(size);
        ASSERT_EQ(LayOutAdapters(grown, buffer.As<IP_ADAPTER_INFO>(), &size), IPHLP_NO_ERROR) << count;
        EXPECT_TRUE(buffer.GuardIntact()) << count;
        const IP_ADAPTER_INFO* first = buffer.As<IP_ADAPTER_INFO>();
        size_t entries = 0;
        for (const IP_ADDR_STRING* e = &first->IpAddressList; e; e = e->Next) ++entries;
        EXPECT_EQ(entries, 2 + moreAddresses) << count;

        // Grown past any headroom: refused, and nothing written past the buffer.
        grown.push_back(MakeAdapter(static_cast<uint32_t>(grown.size() + 1), Addresses(size / sizeof(IP_ADDR_STRING))));
        GuardedBuffer tight(size);
        uint32_t tightSize = size;
        EXPECT_EQ(LayOutAdapters(grown, tight.As<IP_ADAPTER_INFO>(), &tightSize), IPHLP_BUFFER_OVERFLOW) << count;
        EXPECT_TRUE(tight.GuardIntact()) << count;
    }
}

TEST(AdapterRecords, ReportedPerAdapterSizeFitsAGrownList)
{
    for (size_t count : {1u, 2u, 40u}) {
        std::vector<std::string> servers;
        for (size_t k = 0; k < count; ++k) servers.push_back("192.0.2." + std::to_string(k + 1));
        uint32_t size = ReportedPerAdapterSize(servers);
        ASSERT_GE(size, sizeof(IP_PER_ADAPTER_INFO) + (count - 1) * sizeof(IP_ADDR_STRING));
        const size_t more = RoomToGrow(count, HEADROOM_DNS_SERVERS);
        EXPECT_GE(more, HEADROOM_DNS_SERVERS);
        for (size_t k = 0; k < more; ++k) servers.push_back("198.18.0." + std::to_string(k + 1));
        GuardedBuffer buffer(size);
        ASSERT_EQ(LayOutPerAdapter(servers, buffer.As<IP_PER_ADAPTER_INFO>(), &size), IPHLP_NO_ERROR) << count;
        EXPECT_TRUE(buffer.GuardIntact()) << count;
        size_t entries = 0;
        for (const IP_ADDR_STRING* e = &buffer.As<IP_PER_ADAPTER_INFO>()->DnsServerList; e; e = e->Next) ++entries;
        EXPECT_EQ(entries, count + more) << count;
    }
}

TEST(AdapterRecords, LeaseFiles)
{
    EXPECT_EQ(NetworkdLeaseServer("# This is private data.\nADDRESS=198.18.0.9\nSERVER_ADDRESS=198.18.0.1\nT1=1800\n"),
              "198.18.0.1");
    EXPECT_EQ(NetworkdLeaseServer("SERVER_ADDRESS=not-an-address\n"), "");
    EXPECT_EQ(NetworkdLeaseServer("SERVER_ADDRESS="), "");
    EXPECT_EQ(NetworkdLeaseServer(std::string("\0\xff\n=", 4)), "");

    const char* leases = R"(lease {
  interface "eth0";
  fixed-address 198.18.0.9;
  option dhcp-server-identifier 198.18.0.1;
}
lease {
  interface "wlan0";
  option dhcp-server-identifier 198.18.5.1;
}
lease {
  interface "eth0";
  option dhcp-server-identifier 198.18.0.2;
}
lease {
  interface "eth0";
  option dhcp-server-identifier 198.18.0.3;
)";
    // The last complete block of the interface; an unterminated block does not count.
    EXPECT_EQ(DhclientLeaseServer(leases, "eth0"), "198.18.0.2");
    EXPECT_EQ(DhclientLeaseServer(leases, "wlan0"), "198.18.5.1");
    EXPECT_EQ(DhclientLeaseServer(leases, "eth1"), "");
    EXPECT_EQ(DhclientLeaseServer("lease {\n interface \"eth0\nfoo\n}\n", "eth0"), "");
    EXPECT_EQ(DhclientLeaseServer("}}}{{{ lease lease", "eth0"), "");
}

TEST(AdapterRecords, ResolverFiles)
{
    EXPECT_EQ(ResolvConfServers("# generated\nnameserver 192.0.2.53\nnameserver\tfd00::53\nsearch example\n"
                                "nameserver 198.18.0.53 # comment\nnameservers 1.1.1.1\noptions edns0\n"),
              (std::vector<std::string>{"192.0.2.53", "198.18.0.53"}));
    EXPECT_EQ(ResolvConfServers("nameserver 198.18.0.53\n  nameserver 198.18.0.54\r\n"),
              (std::vector<std::string>{"198.18.0.53", "198.18.0.54"}));
    EXPECT_TRUE(ResolvConfServers("nameserver\nnameserver 999.1.1.1\n").empty());
    EXPECT_EQ(ResolvedLinkServers("# resolved\nLLMNR=yes\nSERVERS=192.0.2.53 fd00::1 198.18.0.53#dns.example 198.18.0.54:53%2\n"),
              (std::vector<std::string>{"192.0.2.53", "198.18.0.53", "198.18.0.54"}));
    EXPECT_EQ(ResolvedLinkServers("DNS=198.18.0.1 198.18.0.1\n"), (std::vector<std::string>{"198.18.0.1"}));
    EXPECT_TRUE(ResolvedLinkServers("DNS=\nSERVERS= \n").empty());
}

TEST(AdapterRecords, LinkTypes)
{
    EXPECT_EQ(InterfaceTypeOfLink(1, false), IF_TYPE_ETHERNET);
    EXPECT_EQ(InterfaceTypeOfLink(1, true), IF_TYPE_WIRELESS);
    EXPECT_EQ(InterfaceTypeOfLink(772, false), IF_TYPE_LOOPBACK);
    EXPECT_EQ(InterfaceTypeOfLink(512, false), IF_TYPE_PPP);
    EXPECT_EQ(InterfaceTypeOfLink(256, false), IF_TYPE_SLIP);
    EXPECT_EQ(InterfaceTypeOfLink(800, false), IF_TYPE_TOKENRING);
    EXPECT_EQ(InterfaceTypeOfLink(774, false), IF_TYPE_FDDI);
    // Link codes that equal a named platform code must not be shown under that name.
    for (unsigned code : {6u, 15u, 23u, 24u, 28u, 65534u}) {
        const uint32_t type = InterfaceTypeOfLink(code, false);
        EXPECT_TRUE(type != IF_TYPE_FDDI && type != IF_TYPE_PPP && type != IF_TYPE_LOOPBACK && type != IF_TYPE_SLIP &&
                    type != IF_TYPE_ETHERNET)
            << code;
    }
}

// What udev keeps for a PCI card; the key that only begins like a wanted one must not count.
constexpr const char* PCI_CARD_ENTRY =
    "I:4130423\n"
    "E:ID_NET_NAME_PATH=enp0s3\n"
    "E:ID_BUS=pci\n"
    "E:ID_VENDOR_ID=0x8086\n"
    "E:ID_MODEL_FROM_DATABASE_EXTRA=not this\n"
    "E:ID_PCI_SUBCLASS_FROM_DATABASE=Ethernet controller\n"
    "E:ID_VENDOR_FROM_DATABASE=Intel Corporation\n"
    "E:ID_MODEL_FROM_DATABASE=82540EM Gigabit Ethernet Controller\r\n"
    "E:ID_NET_DRIVER=e1000\n"
    "G:systemd\n";

TEST(AdapterRecords, LinuxDescriptionsNameTheDeviceAndTheInterface)
{
    EXPECT_EQ(DeviceDatabaseValue(PCI_CARD_ENTRY, "ID_BUS"), "pci");
    EXPECT_EQ(DeviceDatabaseValue(PCI_CARD_ENTRY, "ID_MODEL"), "");
    EXPECT_EQ(DescribeLinuxAdapter(PCI_CARD_ENTRY, "e1000", "enp0s3", false),
              "Intel Corporation 82540EM Gigabit Ethernet Controller (enp0s3)");
    EXPECT_EQ(DescribeLinuxAdapter("E:ID_MODEL_FROM_DATABASE=Virtio network device\n", "virtio_net", "eth0", false),
              "Virtio network device (eth0)");
    // Without a model the driver names it, even when the vendor is known.
    EXPECT_EQ(DescribeLinuxAdapter("E:ID_VENDOR_FROM_DATABASE=Intel Corporation\n", "igb", "eth1", false),
              "igb (eth1)");
    EXPECT_EQ(DescribeLinuxAdapter("", "ifb", "ifb0", false), "ifb (ifb0)");
    EXPECT_EQ(DescribeLinuxAdapter("", "", "tun0", false), "tun0");
    EXPECT_EQ(DescribeLinuxAdapter("", "", "lo", true), "Loopback (lo)");
    EXPECT_EQ(DescribeLinuxAdapter(PCI_CARD_ENTRY, "", "lo", true), "Loopback (lo)");
    // The tree shows Latin-1: names in UTF-8 are converted, what Latin-1 lacks shows as '?'.
    EXPECT_EQ(DescribeLinuxAdapter("E:ID_MODEL_FROM_DATABASE=M\xC3\xBCller \xE7\xBD\x91\xC3 LAN\n", "", "eth2", false),
              "M\xFCller ?? LAN (eth2)");
}

TEST(AdapterRecords, OverlongLinuxDescriptionKeepsTheInterfaceName)
{
    const std::string entry = "E:ID_VENDOR_FROM_DATABASE=" + std::string(100, 'v') + "\nE:ID_MODEL_FROM_DATABASE=" +
                              std::string(100, 'm') + "\n";
    const std::string description = DescribeLinuxAdapter(entry, "e1000e", "enp0s31f6", false);
    ASSERT_EQ(description.size(), static_cast<size_t>(ADAPTER_DESCRIPTION_CHARS - 1));
    EXPECT_EQ(description.substr(0, 101), std::string(100, 'v') + " ");
    EXPECT_EQ(description.substr(description.size() - 15), "... (enp0s31f6)");
    // The record holds it whole.
    AdapterData a = MakeAdapter(1);
    a.description = description;
    IP_ADAPTER_INFO record;
    uint32_t size = sizeof record;
    ASSERT_EQ(LayOutAdapters({a}, &record, &size), IPHLP_NO_ERROR);
    EXPECT_EQ(record.Description, description);
    // Cut after conversion: two-byte UTF-8 characters count one byte each, none is split.
    std::string model;
    for (int i = 0; i < 130; ++i) model += "\xC3\xA9";  // U+00E9, one byte in the record
    const std::string cut = DescribeLinuxAdapter("E:ID_MODEL_FROM_DATABASE=" + model + "\n", "", "eth0", false);
    EXPECT_EQ(cut, std::string(ADAPTER_DESCRIPTION_CHARS - 1 - 10, '\xE9') + "... (eth0)");
}

}  // namespace
}  // namespace kestrine
