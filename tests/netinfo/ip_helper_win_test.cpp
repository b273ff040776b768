// The IP Helper binding against Wine's own iphlpapi.dll: the query pattern counted through a
// wrapping loader, and the adapter texts made from the platform's records.
#include "netinfo/ip_helper.h"  // winsock2.h before windows.h

#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "netinfo/adapter_info.h"

namespace kestrine {
namespace {

IpHelperLibrary g_platform;
std::vector<IpHelperSize> g_adapterResults;
std::vector<IpHelperSize> g_perAdapterResults;

IpHelperSize WINAPI CountedAdaptersInfo(IP_ADAPTER_INFO* buffer, IpHelperSize* size)
{
    const IpHelperSize result = g_platform.getAdaptersInfo(buffer, size);
    g_adapterResults.push_back(result);
    return result;
}

IpHelperSize WINAPI CountedPerAdapterInfo(IpHelperSize index, IP_PER_ADAPTER_INFO* buffer, IpHelperSize* size)
{
    const IpHelperSize result = g_platform.getPerAdapterInfo(index, buffer, size);
    g_perAdapterResults.push_back(result);
    return result;
}

bool CountingLoader(IpHelperLibrary* library)
{
    if (!LoadPlatformIpHelper(&g_platform)) return false;
    library->getAdaptersInfo = g_platform.getAdaptersInfo ? CountedAdaptersInfo : nullptr;
    library->getPerAdapterInfo = g_platform.getPerAdapterInfo ? CountedPerAdapterInfo : nullptr;
    return true;
}

bool IsDottedQuad(const char* text)
{
    in_addr address{};
    return text && std::strlen(text) >= 7 && inet_pton(AF_INET, text, &address) == 1;
}

class IpHelper : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_adapterResults.clear();
        g_perAdapterResults.clear();
        SetIpHelperLoader(CountingLoader);
    }
    void TearDown() override { SetIpHelperLoader(nullptr); }
};

TEST_F(IpHelper, PlatformLibraryHasBothQueries)
{
    IpHelperLibrary library;
    ASSERT_TRUE(LoadPlatformIpHelper(&library));
    EXPECT_NE(library.getAdaptersInfo, nullptr);
    EXPECT_NE(library.getPerAdapterInfo, nullptr);
}

TEST_F(IpHelper, FirstQueryGrowsTheBufferOnceAndTheNextReusesIt)
{
    const IP_ADAPTER_INFO* first = QueryAdaptersInfo();
    if (g_adapterResults == std::vector<IpHelperSize>{IPHLP_NO_DATA}) GTEST_SKIP() << "no adapter but loopback";
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(g_adapterResults, (std::vector<IpHelperSize>{IPHLP_BUFFER_OVERFLOW, IPHLP_NO_ERROR}));

    g_adapterResults.clear();
    ASSERT_NE(QueryAdaptersInfo(), nullptr);
    EXPECT_EQ(g_adapterResults, std::vector<IpHelperSize>{IPHLP_NO_ERROR});

    const uint32_t index = first->Index;
    ASSERT_NE(QueryPerAdapterInfo(index), nullptr);
    EXPECT_EQ(g_perAdapterResults, (std::vector<IpHelperSize>{IPHLP_BUFFER_OVERFLOW, IPHLP_NO_ERROR}));
    g_perAdapterResults.clear();
    ASSERT_NE(QueryPerAdapterInfo(index), nullptr);
    EXPECT_EQ(g_perAdapterResults, std::vector<IpHelperSize>{IPHLP_NO_ERROR});
}

TEST_F(IpHelper, AdapterTextsFromThePlatformRecords)
{
    adapter_info info;
    if (g_adapterResults == std::vector<IpHelperSize>{IPHLP_NO_DATA}) GTEST_SKIP() << "no adapter but loopback";
    ASSERT_TRUE(info.m_valid);
    ASSERT_GT(info.Count(), 0);
    for (int n = 0; n < info.Count(); ++n) {
        EXPECT_STRNE(info.Description(n), "") << n;
        EXPECT_STRNE(info.Name(n), "") << n;
        EXPECT_STRNE(info.TypeString(n), "") << n;
        EXPECT_EQ(std::string(info.HWAddressString(n)).find("error"), std::string::npos) << n;
        ASSERT_GT(info.IPAddressCount(n), 0) << n;
        for (int k = 0; k < info.IPAddressCount(n); ++k) {
            EXPECT_TRUE(IsDottedQuad(info.IPAddressString(n, k))) << info.IPAddressString(n, k);
            EXPECT_TRUE(IsDottedQuad(info.IPMaskString(n, k))) << info.IPMaskString(n, k);
        }
        info.LoadPerAdapterInfo(info.Index(n));
        for (int k = 0; k < info.DNSServerCount(); ++k)
            EXPECT_TRUE(IsDottedQuad(info.DNSServerString(k))) << info.DNSServerString(k);
    }
}

TEST_F(IpHelper, AdapterTreeHasEveryAdapter)
{
    struct Recorder final : TreeSink {
        Item InsertItem(const char* text, Item parent) override
        {
            texts.emplace_back(text);
            parents.push_back(parent);
            return texts.size();
        }
        std::vector<std::string> texts;
        std::vector<Item> parents;
    };
    adapter_info info;
    Recorder tree;
    FillAdapterTree(info, tree, TreeSink::ROOT);
    int topLevel = 0;
    for (const TreeSink::Item parent : tree.parents) topLevel += parent == TreeSink::ROOT;
    EXPECT_EQ(topLevel, info.Count());
}

}  // namespace
}  // namespace kestrine
