// The Linux adapter provider against a network namespace this test builds: a veth end
// with two IPv4 addresses (one dynamic) and a known hardware address, its peer without
// IPv4, and a dummy interface where the kernel has them. Needs root.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "netinfo/adapter_info.h"
#include "tests/support/netns.h"
#include "tests/netinfo/netinfo_test_util.h"

namespace kestrine {
namespace {

using testing::RecordingSink;

std::string Section(const std::string& tree, const std::string& osName)
{
    // The adapter's block: from its description line to the next top-level line.
    const size_t name = tree.find("  OS Name: " + osName + "\n");
    if (name == std::string::npos) return "";
    const size_t descriptionEnd = tree.rfind("\n  Type: ", name);
    if (descriptionEnd == std::string::npos) return "";
    const size_t before = descriptionEnd == 0 ? std::string::npos : tree.rfind('\n', descriptionEnd - 1);
    const size_t start = before == std::string::npos ? 0 : before + 1;
    size_t end = start;
    do end = tree.find('\n', end) + 1;
    while (end < tree.size() && tree[end] == ' ');
    return tree.substr(start, end - start);
}

TEST(NetinfoLive, NamespaceAdaptersAsBuilt)
{
    if (!testnet::EnterPrivateNamespace()) GTEST_SKIP() << testnet::WhyNot();
    ASSERT_EQ(testnet::Run("ip link add kveth0 address 02:00:5e:10:20:30 type veth peer name kveth1"), 0);
    ASSERT_EQ(testnet::Run("ip addr add 198.18.7.1/24 dev kveth0"), 0);
    ASSERT_EQ(testnet::Run("ip addr add 198.18.8.1/16 dev kveth0 valid_lft 3600 preferred_lft 3600"), 0);
    ASSERT_EQ(testnet::Run("ip link set kveth0 up && ip link set kveth1 up"), 0);
    const bool haveDummy = testnet::Run("ip link add kdummy0 type dummy") == 0;  // a kernel module, often absent

    setenv("TZ", "UTC", 1);
    tzset();
    const time_t before = time(nullptr);
    adapter_info info;
    RecordingSink sink;
    FillAdapterTree(info, sink, TreeSink::ROOT);
    const time_t after = time(nullptr);
    ASSERT_TRUE(info.m_valid);

    // Interface-index order: lo first.
    EXPECT_EQ(sink.m_text.substr(0, sink.m_text.find('\n')), "Loopback (lo)");
    EXPECT_NE(Section(sink.m_text, "lo").find("  Type: LOOPBACK\n"), std::string::npos);
    EXPECT_NE(Section(sink.m_text, "lo").find("    127.0.0.1 - Mask: 255.0.0.0\n"), std::string::npos);
    EXPECT_EQ(Section(sink.m_text, "lo").find("DNS Servers"), std::string::npos);  // never for loopback

    const std::string veth = Section(sink.m_text, "kveth0");
    ASSERT_FALSE(veth.empty()) << sink.m_text;
    EXPECT_EQ(veth.substr(0, veth.find('\n')), "veth (kveth0)");
    EXPECT_NE(veth.find("  Type: ETHERNET\n  HW Addr: 02:00:5e:10:20:30\n  OS Name: kveth0\n  IP Addresses\n"
                        "    198.18.7.1 - Mask: 255.255.255.0\n    198.18.8.1 - Mask: 255.255.0.0\n"),
              std::string::npos)
        << veth;
    // The dynamic address makes it a DHCP adapter; no lease file names a server here.
    const size_t dhcp = veth.find("  DHCP Server: 0.0.0.0\n    Lease Obtained: ");
    ASSERT_NE(dhcp, std::string::npos) << veth;
    char expires[64], expiresLater[64];
    FormatLeaseTime(before + 3600, expires);
    FormatLeaseTime(after + 3600, expiresLater);
    const bool expiryMatches = veth.find(std::string("    Lease Expires: ") + expires + "\n") != std::string::npos ||
                               veth.find(std::string("    Lease Expires: ") + expiresLater + "\n") != std::string::npos;
    EXPECT_TRUE(expiryMatches) << veth;

    // Without IPv4: one 0.0.0.0 line, no DHCP.
    for (const char* name : {"kveth1", "kdummy0"}) {
        if (std::string(name) == "kdummy0" && !haveDummy) continue;
        const std::string plain = Section(sink.m_text, name);
        EXPECT_NE(plain.find("  IP Addresses\n    0.0.0.0 - Mask: 0.0.0.0\n"), std::string::npos) << plain;
        EXPECT_EQ(plain.find("DHCP Server"), std::string::npos) << plain;
    }

    // Index order all through.
    EXPECT_LT(sink.m_text.find("OS Name: lo\n"), sink.m_text.find("OS Name: kveth1\n"));
    EXPECT_LT(sink.m_text.find("OS Name: kveth1\n"), sink.m_text.find("OS Name: kveth0\n"));
    if (haveDummy) {
        EXPECT_LT(sink.m_text.find("OS Name: kveth0\n"), sink.m_text.find("OS Name: kdummy0\n"));
    }
}

TEST(NetinfoLive, DumpToolPrintsTheSameTree)
{
    if (!testnet::EnterPrivateNamespace()) GTEST_SKIP() << testnet::WhyNot();
    ASSERT_EQ(testnet::Run("ip link add kveth2 type veth peer name kveth3"), 0);
    adapter_info info;
    RecordingSink sink;
    FillAdapterTree(info, sink, TreeSink::ROOT);
    FILE* pipe = popen(KESTRINE_DUMP " --adapters", "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(out, sink.m_text);
}

}  // namespace
}  // namespace kestrine
