// The binding's load rule and the grow-once query pattern, through a scripted provider.
#include "netinfo/ip_helper.h"

#include <gtest/gtest.h>

#include "tests/netinfo/netinfo_test_util.h"

namespace kestrine {
namespace {

using testing::ScriptedProvider;

AdapterData Adapter(uint32_t index, std::vector<AdapterAddress> addresses = {{"192.0.2.1", "255.255.255.0"}})
{
    AdapterData a;
    a.index = index;
    a.name = "eth" + std::to_string(index);
    a.description = "Adapter " + std::to_string(index);
    a.addresses = std::move(addresses);
    return a;
}

class IpHelper : public ::testing::Test {
protected:
    void SetUp() override { ScriptedProvider::Reset(); }
    void TearDown() override { SetIpHelperLoader(nullptr); }
};

TEST_F(IpHelper, FirstQueryGrowsOnceThenTheBufferIsReused)
{
    SetIpHelperLoader(ScriptedProvider::LoadBoth);
    ScriptedProvider::adapters = {Adapter(1), Adapter(2, {{"198.18.0.1", "255.255.0.0"}, {"198.18.0.2", "255.255.0.0"}})};
    IP_ADAPTER_INFO* first = QueryAdaptersInfo();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(ScriptedProvider::adapterCalls, 2);
    EXPECT_EQ(ScriptedProvider::buffersSeen[0], nullptr);
    EXPECT_EQ(ScriptedProvider::sizesSeen[0], 0u);
    EXPECT_EQ(ScriptedProvider::sizesSeen[1], 2 * sizeof(IP_ADAPTER_INFO) + sizeof(IP_ADDR_STRING));
    EXPECT_STREQ(first->Next->IpAddressList.Next->IpAddress.String, "198.18.0.2");

    IP_ADAPTER_INFO* second = QueryAdaptersInfo();
    EXPECT_EQ(second, first);
    EXPECT_EQ(ScriptedProvider::adapterCalls, 3);
    EXPECT_EQ(ScriptedProvider::loads, 1);  // loaded once for the process
}

TEST_F(IpHelper, GrowingBetweenTheTwoCallsGivesNullThenALargerStart)
{
    SetIpHelperLoader(ScriptedProvider::LoadBoth);
    ScriptedProvider::adapters = {Adapter(1)};
    ScriptedProvider::growBy = 1;
    EXPECT_EQ(QueryAdaptersInfo(), nullptr);
    EXPECT_EQ(ScriptedProvider::adapterCalls, 2);  // exactly one retry
    ScriptedProvider::growBy = 0;
    // Three adapters now. The provider is told the buffer's real size (one record), not the
    // size it last asked for, so it cannot write past the allocation; the buffer grows again.
    ASSERT_NE(QueryAdaptersInfo(), nullptr);
    EXPECT_EQ(ScriptedProvider::sizesSeen[2], sizeof(IP_ADAPTER_INFO));
    EXPECT_EQ(ScriptedProvider::sizesSeen[3], 3 * sizeof(IP_ADAPTER_INFO));
    EXPECT_EQ(ScriptedProvider::adapterCalls, 4);
}

TEST_F(IpHelper, NoDataAndMissingPiecesGiveNull)
{
    SetIpHelperLoader(ScriptedProvider::LoadBoth);
    EXPECT_EQ(QueryAdaptersInfo(), nullptr);  // no adapters: the provider has no data
    EXPECT_EQ(QueryPerAdapterInfo(1), nullptr);

    SetIpHelperLoader(ScriptedProvider::LoadWithoutPerAdapter);
    ScriptedProvider::Reset();
    ScriptedProvider::adapters = {Adapter(1)};
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
    ScriptedProvider::adapters = {Adapter(1)};
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
