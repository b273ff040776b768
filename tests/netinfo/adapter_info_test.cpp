// adapter_info accessors and the adapter tree over scripted adapter records.
#include "netinfo/adapter_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>
#include <ctime>

#include "tests/netinfo/netinfo_test_util.h"

namespace kestrine {
namespace {

using testing::RecordingSink;
using testing::ScriptedProvider;

class AdapterInfo : public ::testing::Test {
protected:
    void SetUp() override
    {
        ScriptedProvider::Reset();
        SetIpHelperLoader(ScriptedProvider::LoadBoth);
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override { SetIpHelperLoader(nullptr); }

    static AdapterData Dhcp()
    {
        AdapterData a;
        a.index = 7;
        a.name = "eth0";
        a.description = "Intel Corporation 82540EM Gigabit Ethernet Controller";
        a.hardwareAddress = {0x00, 0x0C, 0x29, 0xAB, 0xCD, 0xEF};
        a.type = 6;
        a.dhcpEnabled = true;
        a.addresses = {{"198.18.0.9", "255.255.255.0"}, {"198.18.0.10", "255.255.255.0"}};
        a.dhcpServer = "198.18.0.1";
        a.leaseObtained = 1796626445;  // Mon Dec 07 06:54:05 2026 UTC
        a.leaseExpires = 1796626445 + 3600 * 24 * 2;
        return a;
    }
    static AdapterData Plain()
    {
        AdapterData a;
        a.index = 9;
        a.name = "dummy0";
        a.description = "dummy";
        a.type = 1;
        return a;
    }
};

TEST_F(AdapterInfo, AccessorsOfAnExistingAdapter)
{
    ScriptedProvider::adapters = {Dhcp(), Plain()};
    adapter_info info;
    EXPECT_TRUE(info.m_valid);
    ASSERT_EQ(info.Count(), 2);
    EXPECT_STREQ(info.Description(0), "Intel Corporation 82540EM Gigabit Ethernet Controller");
    EXPECT_STREQ(info.Description(-3), info.Description(0));  // negative counts as 0
    EXPECT_STREQ(info.TypeString(0), "ETHERNET");
    EXPECT_STREQ(info.TypeString(1), "[unknown interface type]");
    EXPECT_STREQ(info.HWAddressString(0), "00:0c:29:ab:cd:ef");
    EXPECT_STREQ(info.HWAddressString(1), "xx:xx:xx:xx:xx:xx:");
    EXPECT_STREQ(info.Name(1), "dummy0");
    EXPECT_EQ(info.Index(1), 9u);
    EXPECT_EQ(info.IPAddressCount(0), 2);
    EXPECT_STREQ(info.IPAddressString(0, 1), "198.18.0.10");
    EXPECT_STREQ(info.IPMaskString(0, 1), "255.255.255.0");
    EXPECT_STREQ(info.IPAddressString(0, 2), "[IPAddressString::error]");
    EXPECT_STREQ(info.IPMaskString(0, -1), "[IPMaskString::error]");
    EXPECT_EQ(info.IPAddressCount(1), 1);
    EXPECT_STREQ(info.IPAddressString(1, 0), "0.0.0.0");
    EXPECT_TRUE(info.DHCPEnabled(0));
    EXPECT_FALSE(info.DHCPEnabled(1));
    EXPECT_STREQ(info.DHCPServer(0), "198.18.0.1");
    EXPECT_STREQ(info.DHCPLeaseObtained(0), "Mon Dec 07 06:54:05 2026");
    EXPECT_STREQ(info.DHCPLeaseExpires(0), "Wed Dec 09 06:54:05 2026");
}

TEST_F(AdapterInfo, MissingAdapterTexts)
{
    ScriptedProvider::adapters = {Dhcp()};
    adapter_info info;
    const int n = info.Count();
    EXPECT_STREQ(info.Description(n), "[adapter::unknown]");
    EXPECT_STREQ(info.TypeString(n), "[TypeString::error]");
    EXPECT_STREQ(info.HWAddressString(n), "[HWAddressString::error]");
    EXPECT_STREQ(info.Name(n), "[Name::error]");
    EXPECT_EQ(info.Index(n), 0u);
    EXPECT_EQ(info.IPAddressCount(n), 0);
    EXPECT_STREQ(info.IPAddressString(n, 0), "IPAddress:error");
    EXPECT_STREQ(info.IPMaskString(n, 0), "IpMask:error");
    EXPECT_FALSE(info.DHCPEnabled(n));
    EXPECT_STREQ(info.DHCPServer(n), "[DHCPServer::error]");
    EXPECT_STREQ(info.DHCPLeaseObtained(n), "[DHCPLeaseObtained::error]");
    EXPECT_STREQ(info.DHCPLeaseExpires(n), "[adapter_info::error]");
    EXPECT_EQ(info.DNSServerCount(), 0);
    EXPECT_STREQ(info.DNSServerString(0), "[unknown]");

    ScriptedProvider::adapters.clear();
    info.Refresh();
    EXPECT_FALSE(info.m_valid);
    EXPECT_EQ(info.Count(), 0);
}

TEST_F(AdapterInfo, HardwareAddressLengths)
{
    for (size_t length = 1; length <= 8; ++length) {
        AdapterData a = Plain();
        a.hardwareAddress.assign(length, 0xA5);
        ScriptedProvider::adapters = {a};
        adapter_info info;
        std::string expected = "a5";
        for (size_t i = 1; i < length; ++i) expected += ":a5";
        EXPECT_EQ(info.HWAddressString(0), expected) << length;
    }
}

TEST_F(AdapterInfo, LeaseTexts)
{
    char text[64];
    FormatLeaseTime(0, text);
    EXPECT_STREQ(text, "Thu Jan 01 00:00:00 1970");
    FormatLeaseTime(1796626445 + 86400 * 3, text);
    EXPECT_STREQ(text, "Thu Dec 10 06:54:05 2026");
    EXPECT_EQ(std::string(text).size(), 24u);
    FormatLeaseTime(INT64_MAX, text);
    EXPECT_STREQ(text, "[invalid data]");
    FormatLeaseTime(253402300800, text);  // the year 10000 has no 24-character form
    EXPECT_STREQ(text, "[invalid asctime]");
}

TEST_F(AdapterInfo, TreeShapeAndOrder)
{
    ScriptedProvider::adapters = {Dhcp(), Plain()};
    ScriptedProvider::dnsByIndex.resize(10);
    ScriptedProvider::dnsByIndex[7] = {"198.18.0.53", "198.18.0.54"};
    adapter_info info;
    RecordingSink sink;
    FillAdapterTree(info, sink, TreeSink::ROOT);
    EXPECT_EQ(sink.m_text,
              "Intel Corporation 82540EM Gigabit Ethernet Controller\n"
              "  Type: ETHERNET\n"
              "  HW Addr: 00:0c:29:ab:cd:ef\n"
              "  OS Name: eth0\n"
              "  IP Addresses\n"
              "    198.18.0.9 - Mask: 255.255.255.0\n"
              "    198.18.0.10 - Mask: 255.255.255.0\n"
              "  DHCP Server: 198.18.0.1\n"
              "    Lease Obtained: Mon Dec 07 06:54:05 2026\n"
              "    Lease Expires: Wed Dec 09 06:54:05 2026\n"
              "  DNS Servers\n"
              "    198.18.0.53\n"
              "    198.18.0.54\n"
              "dummy\n"
              "  Type: [unknown interface type]\n"
              "  HW Addr: xx:xx:xx:xx:xx:xx:\n"
              "  OS Name: dummy0\n"
              "  IP Addresses\n"
              "    0.0.0.0 - Mask: 0.0.0.0\n");
    // One per-adapter query per adapter, in list order (the first grows its buffer once).
    EXPECT_EQ(ScriptedProvider::indexesAsked, (std::vector<uint32_t>{7, 7, 9}));
    EXPECT_TRUE(info.m_valid);  // the per-adapter query of the last adapter found nothing
}

TEST_F(AdapterInfo, NoLibraryMeansAnEmptyTree)
{
    SetIpHelperLoader(ScriptedProvider::LoadNothing);
    adapter_info info;
    RecordingSink sink;
    FillAdapterTree(info, sink, TreeSink::ROOT);
    EXPECT_EQ(sink.m_text, "");
    EXPECT_FALSE(info.m_valid);
}

}  // namespace
}  // namespace kestrine
