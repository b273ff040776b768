// Dotted-quad parsing and address resolution, including the choice of the default
// interface address in a namespace with and without a network interface.
#include "capture/host_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <unistd.h>

#include "tests/support/netns.h"

namespace kestrine {
namespace {

constexpr uint32_t Quad(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return a << 24 | b << 16 | c << 8 | d; }

TEST(ParseDottedQuad, ReadsFourPartsLikeTheTokenizer)
{
    EXPECT_EQ(ParseDottedQuad("192.168.1.20"), Quad(192, 168, 1, 20));
    EXPECT_EQ(ParseDottedQuad("10..0.1"), 0u);  // the empty part is skipped: three parts
    EXPECT_EQ(ParseDottedQuad("1.2.3.4.5"), Quad(1, 2, 3, 4));
    EXPECT_EQ(ParseDottedQuad("..1.2...3.4."), Quad(1, 2, 3, 4));
    EXPECT_EQ(ParseDottedQuad("10abc.2.3.4"), Quad(10, 2, 3, 4));
    EXPECT_EQ(ParseDottedQuad(" 7.8.9.10"), Quad(7, 8, 9, 10));
    EXPECT_EQ(ParseDottedQuad("IP 1.2.3.4"), 0u);
    EXPECT_EQ(ParseDottedQuad("0.0.0.0"), 0u);
    EXPECT_EQ(ParseDottedQuad(""), 0u);
    EXPECT_EQ(ParseDottedQuad(nullptr), 0u);
}

TEST(ParseDottedQuad, OutOfRangePartsSpillWithoutCheck)
{
    EXPECT_EQ(ParseDottedQuad("1.2.3.300"), Quad(1, 2, 3, 44));
    EXPECT_EQ(ParseDottedQuad("1.2.3.-1"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseDottedQuad("1.2.3.99999999999999999999999"), 0xFFFFFFFFu);  // saturates, no UB
    // Only the first 60 characters are read.
    EXPECT_EQ(ParseDottedQuad((std::string(58, '.') + "1.2.3.4").c_str()), 0u);
}

TEST(HostAddress, NewRecordIsEmpty)
{
    const HostAddress a;
    EXPECT_FALSE(a.m_valid);
    EXPECT_EQ(a.m_error, 0);
    EXPECT_EQ(a.m_name[0], '\0');
    EXPECT_EQ(a.m_sockaddr.sin_addr.s_addr, 0u);
    EXPECT_EQ(a.m_sockaddr.sin_family, 0);
}

TEST(HostAddress, AllOnesIsRefusedBeforeAnyLookup)
{
    HostAddress a;
    ASSERT_TRUE(a.Resolve("127.0.0.1", 5000));
    EXPECT_FALSE(a.Resolve("255.255.255.255", 5000));
    EXPECT_FALSE(a.m_valid);
    EXPECT_EQ(a.m_error, 0);
    EXPECT_EQ(a.HostOrderAddress(), Quad(127, 0, 0, 1));  // rest of the record left as it was
    HostAddress b;
    EXPECT_FALSE(b.FromInteger(0xFFFFFFFFu, 5000));
}

TEST(HostAddress, DottedAddressResolvesWithOrWithoutAReverseName)
{
    HostAddress a;
    ASSERT_TRUE(a.FromInteger(Quad(198, 18, 77, 1), 5000));
    EXPECT_TRUE(a.m_valid);
    EXPECT_EQ(a.HostOrderAddress(), Quad(198, 18, 77, 1));
    EXPECT_EQ(ntohs(a.m_sockaddr.sin_port), 5000);
    EXPECT_EQ(a.m_sockaddr.sin_family, AF_INET);
    EXPECT_STRNE(a.m_name, "");

    HostAddress local;
    ASSERT_TRUE(local.Resolve("127.0.0.1", 80));
    EXPECT_STRNE(local.m_name, "");
}

TEST(HostAddress, NamesAreLookedUpAndFailuresRecorded)
{
    HostAddress a;
    ASSERT_TRUE(a.Resolve("localhost", 5000));
    EXPECT_EQ(a.HostOrderAddress() >> 24, 127u);

    HostAddress missing;
    EXPECT_FALSE(missing.Resolve("no-such-host.invalid", 5000));
    EXPECT_FALSE(missing.m_valid);
    EXPECT_NE(missing.m_error, 0);
    EXPECT_EQ(missing.m_sockaddr.sin_family, 0);
    EXPECT_EQ(missing.m_sockaddr.sin_addr.s_addr, 0u);
}

// The host's own name, as the resolver maps it (0 when it does not resolve).
uint32_t OwnNameAddress()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0) return 0;
    const uint32_t a = ntohl(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return a;
}

TEST(HostAddressNamespace, OwnNameOnLoopbackPrefersTheDefaultRouteInterface)
{
    if (!testnet::EnterPrivateNamespace()) GTEST_SKIP() << testnet::WhyNot();
    const uint32_t own = OwnNameAddress();
    if (own >> 24 != 127) GTEST_SKIP() << "this host's name does not map to a loopback address";

    // Only lo: the loopback answer stands.
    HostAddress alone;
    ASSERT_TRUE(alone.FromLocalHost(5000));
    EXPECT_EQ(alone.HostOrderAddress(), own);

    // Two interfaces up; the default route goes through the second, which must win.
    ASSERT_EQ(testnet::Run("ip link add kfirst type veth peer name kfirst-p"), 0);
    ASSERT_EQ(testnet::Run("ip link add ksecond type veth peer name ksecond-p"), 0);
    ASSERT_EQ(testnet::Run("ip addr add 198.18.1.1/24 dev kfirst && ip link set kfirst up && ip link set kfirst-p up"), 0);
    HostAddress first;
    ASSERT_TRUE(first.FromLocalHost(5000));
    EXPECT_EQ(first.HostOrderAddress(), Quad(198, 18, 1, 1));  // no default route: the first one up

    ASSERT_EQ(testnet::Run("ip addr add 198.18.2.1/24 dev ksecond && ip link set ksecond up && "
                           "ip link set ksecond-p up && ip route add default via 198.18.2.2 dev ksecond"),
              0);
    HostAddress routed;
    ASSERT_TRUE(routed.FromLocalHost(5000));
    EXPECT_EQ(routed.HostOrderAddress(), Quad(198, 18, 2, 1));
    EXPECT_STRNE(routed.m_name, "");  // still the host's own name, not the interface's
}

}  // namespace
}  // namespace kestrine
