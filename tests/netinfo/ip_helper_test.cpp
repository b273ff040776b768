// The binding's load rule and the grow-once query pattern, through a scripted provider.
#include "netinfo/ip_helper.h"

#include <gtest/gtest.h>

#include "tests/netinfo/netinfo_test_util.h"

namespace kestrine {
namespace {

using testing::MakeAdapter;
using testing::ReportedAdaptersSize;
using testing::ScriptedProvider;

// The adapters of a chain, each checked to lie within bytes of its start.
int ChainLength(const IP_ADAPTER_INFO* first, size_t bytes)
{
    const auto* begin = reinterpret_cast<const uint8_t*>(first);
    const auto inside = [&](const void* p, size_t size) {
        const auto* at = static_cast<const uint8_t*>(p);
        return at >= begin && at + size <= begin + bytes;
    };
    int n = 0;
    for (const IP_ADAPTER_INFO* a = first; a; a = a->Next, ++n) {
        EXPECT_TRUE(inside(a, sizeof *a));
        for (const IP_ADDR_STRING* e = a->IpAddressList.Next; e; e = e->Next) EXPECT_TRUE(inside(e, sizeof *e));
    }
    return n;
}

class IpHelper : public ::testing::Test {
protected:
    void SetUp() override { ScriptedProvider::Reset(); }
    void TearDown() override { SetIpHelperLoader(nullptr); }
};

TEST_F(IpHelper, FirstQueryGrowsOnceThenTheBufferIsReused)
{
    SetIpHelperLoader(ScriptedProvider::LoadBoth);
    ScriptedProvider::adapters = {MakeAdapter(1), MakeAdapter(2, {{"198.18.0.1", "255.255.0.0"}, {"198.18.0.2", "255.255.0.0"}})};
    IP_ADAPTER_INFO* first = QueryAdaptersInfo();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(ScriptedProvider::adapterCalls, 2);
    EXPECT_EQ(ScriptedProvider::buffersSeen[0], nullptr);
    EXPECT_EQ(ScriptedProvider::sizesSeen[0], 0u);
    EXPECT_EQ(ScriptedProvider::sizesSeen[1], ReportedAdaptersSize(ScriptedProvider::adapters));
    EXPECT_STREQ(first->Next->IpAddressList.Next->IpAddress.String, "198.18.0.2");

    IP_ADAPTER_INFO* second = QueryAdaptersInfo();
    EXPECT_EQ(second, first);
    EXPECT_EQ(ScriptedProvider::adapterCalls, 3);
    EXPECT_EQ(ScriptedProvider::loads, 1);  // loaded once for the process
}

TEST_F(IpHelper, ListGrowingBetweenTheTwoCallsStillGivesData)
{
    // A veth pair with three addresses each appears between the size call and the retry.
    SetIpHelperLoader(ScriptedProvider::LoadBoth);
    const std::vector<AdapterAddress> three = {
        {"198.18.0.1", "255.255.0.0"}, {"198.18.0.2", "255.255.0.0"}, {"198.18.0.3", "255.255.0.0"}};
    ScriptedProvider::adapters = {MakeAdapter(1), MakeAdapter(2, three)};
    ScriptedProvider::growBy = 2;
    IP_ADAPTER_INFO* first = QueryAdaptersInfo();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(ScriptedProvider::adapterCalls, 2);  // still exactly one retry
    EXPECT_EQ(ChainLength(first, ScriptedProvider::sizesSeen[1]), 4);
    EXPECT_STREQ(first->Next->Next->Next->IpAddressList.Next->Next->IpAddress.String, "198.18.0.3");
}

TEST_F(IpHelper, PerAdapterListGrowingBetweenTheTwoCallsStillGivesData)
{
    SetIpHelperLoader(ScriptedProvider::LoadBoth);
    ScriptedProvider::dnsByIndex = {{}, {"192.0.2.53"}};
    ScriptedProvider::dnsGrowBy = 2;
    IP_PER_ADAPTER_INFO* info = QueryPerAdapterInfo(1);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(ScriptedProvider::perAdapterCalls, 2);
    ASSERT_NE(info->DnsServerList.Next, nullptr);
    ASSERT_NE(info->DnsServerList.Next->Next, nullptr);
    EXPECT_EQ(info->DnsServerList.Next->Next->Next, nullptr);
}

TEST_F(IpHelper, GrowingPastTheHeadroomGivesNullThenALargerStart)
{
    SetIpHelperLoader(ScriptedProvider::LoadBoth);
    ScriptedProvider::adapters = {MakeAdapter(1)};
    // More adapters than the first call's size can hold, headroom included.
    ScriptedProvider::growBy = ReportedAdaptersSize(ScriptedProvider::adapters) / sizeof(IP_ADAPTER_INFO);
    EXPECT_EQ(QueryAdaptersInfo(), nullptr);
    EXPECT_EQ(ScriptedProvider::adapterCalls, 2);  // exactly one retry
    ScriptedProvider::growBy = 0;
    // The list grew twice. The provider is told the buffer's real size (what the first call
    // asked for), not the size it last asked for, so it cannot write past the allocation;
    // the buffer grows again.
    ASSERT_NE(QueryAdaptersInfo(), nullptr);
    EXPECT_EQ(ScriptedProvider::sizesSeen[2], ScriptedProvider::sizesSeen[1]);
    EXPECT_EQ(ScriptedProvider::sizesSeen[3], ReportedAdaptersSize(ScriptedProvider::adapters));
    EXPECT_EQ(ScriptedProvider::adapterCalls, 4);
}

TEST_F(IpHelper, NoDataAndMissingPiecesGiveNull)
{
    SetIpHelperLoader(ScriptedProvider::LoadBoth);
    EXPECT_EQ(QueryAdaptersInfo(), nullptr);  // no adapters: the provider has no data
    EXPECT_EQ(QueryPerAdapterInfo(1), nullptr);

    SetIpHelperLoader(ScriptedProvider::LoadWithoutPerAdapter);
    ScriptedProvider::Reset();
    ScriptedProvider::adapters = {MakeAdapter(1)};
    ScriptedProvider::dnsByIndex = {{}, {"192.0.2.53"}};
    EXPECT_NE(QueryAdaptersInfo(), nullptr);
    EXPECT_EQ(QueryPerAdapterInfo(1), nullptr);
    EXPECT_EQ(ScriptedProvider::perAdapterCalls, 0);

    ScriptedProvider::Reset();
    SetIpHelperLoader(ScriptedProvider::LoadNothing);
    EXPECT_FALSE(LoadIpHelper());
    EXPECT_EQ(QueryAdaptersInfo(), nullptr);
    EXPECT_EQ(QueryPerAdapterInfo(1), nullptr);
    EXPECT_EQ(ScriptedProvider::loads, 3);  // every call tries the load again
    EXPECT_EQ(ScriptedProvider::adapterCalls, 0);
}

TEST_F(IpHelper, PerAdapterQueryHasItsOwnBuffer)
{
    SetIpHelperLoader(ScriptedProvider::LoadBoth);
    ScriptedProvider::adapters = {MakeAdapter(1)};
    ScriptedProvider::dnsByIndex = {{}, {"192.0.2.53", "192.0.2.54", "192.0.2.55"}, {"198.18.0.53"}};
    IP_ADAPTER_INFO* adapters = QueryAdaptersInfo();
    IP_PER_ADAPTER_INFO* one = QueryPerAdapterInfo(1);
    ASSERT_NE(one, nullptr);
    EXPECT_STREQ(one->DnsServerList.Next->Next->IpAddress.String, "192.0.2.55");
    EXPECT_EQ(one->DnsServerList.Next->Next->Next, nullptr);
    EXPECT_EQ(QueryPerAdapterInfo(2), one);  // smaller: fits the same buffer
    EXPECT_STREQ(one->DnsServerList.IpAddress.String, "198.18.0.53");
    EXPECT_STREQ(adapters->AdapterName, "eth1");  // the adapter buffer is untouched
}

}  // namespace
}  // namespace kestrine
