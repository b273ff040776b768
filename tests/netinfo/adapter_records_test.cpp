// Record layout and the lease, resolver and link-file parsers, including malformed input.
#include "netinfo/adapter_records.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrine {
namespace {

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

    uint32_t size = 0;
    EXPECT_EQ(LayOutAdapters({a, b}, nullptr, &size), IPHLP_BUFFER_OVERFLOW);
    ASSERT_EQ(size, 2 * sizeof(IP_ADAPTER_INFO) + 2 * sizeof(IP_ADDR_STRING));
    uint32_t small = size - 1;
    std::vector<uint64_t> storage(size / 8 + 1);
    auto* records = reinterpret_cast<IP_ADAPTER_INFO*>(storage.data());
    EXPECT_EQ(LayOutAdapters({a, b}, records, &small), IPHLP_BUFFER_OVERFLOW);
    EXPECT_EQ(small, size);
    ASSERT_EQ(LayOutAdapters({a, b}, records, &size), IPHLP_NO_ERROR);

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

TEST(AdapterRecords, TypesAndDescriptions)
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
    EXPECT_EQ(ComposeDescription("Intel Corporation", "82540EM Gigabit Ethernet Controller", "e1000", "eth0"),
              "Intel Corporation 82540EM Gigabit Ethernet Controller");
    EXPECT_EQ(ComposeDescription("", "", "veth", "kveth0"), "veth");
    EXPECT_EQ(ComposeDescription("", "", "", "lo"), "lo");
}

}  // namespace
}  // namespace kestrine
