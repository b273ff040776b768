// Keep decisions and display text of the address filter rule.
#include "filter/filter_rule.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif
#include <gtest/gtest.h>

namespace kestrine {
namespace {

uint32_t Wire(const char* dotted)
{
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

FilterRule Rule(int preset, int direction, const char* address, const char* mask = "0.0.0.0")
{
    return BuildFilterRule(preset, direction, ntohl(Wire(address)), ntohl(Wire(mask)));
}

TEST(FilterRule, NewRuleKeepsEverything)
{
    const FilterRule rule;
    EXPECT_TRUE(rule.Keeps(Wire("10.0.0.5"), Wire("192.0.2.1")));
    EXPECT_TRUE(rule.Keeps(0, 0xFFFFFFFFu));
    EXPECT_EQ(FormatFilterRule(rule), "<ipfilter act=\"capture\" dir=\"both\" ip=\"0.0.0.0\" mask=\"0.0.0.0\" />");
}

TEST(FilterRule, CaptureAndIgnoreOneHostInEitherDirection)
{
    const FilterRule capture = Rule(0, 0, "10.0.0.5");
    EXPECT_TRUE(capture.Keeps(Wire("10.0.0.5"), Wire("1.2.3.4")));
    EXPECT_TRUE(capture.Keeps(Wire("1.2.3.4"), Wire("10.0.0.5")));
    EXPECT_FALSE(capture.Keeps(Wire("10.0.0.6"), Wire("1.2.3.4")));

    const FilterRule ignore = Rule(1, 0, "10.0.0.5");
    EXPECT_FALSE(ignore.Keeps(Wire("10.0.0.5"), Wire("1.2.3.4")));
    EXPECT_FALSE(ignore.Keeps(Wire("1.2.3.4"), Wire("10.0.0.5")));
    EXPECT_TRUE(ignore.Keeps(Wire("10.0.0.6"), Wire("1.2.3.4")));
}

TEST(FilterRule, DirectionsLookAtOneAddressOnly)
{
    const FilterRule net = Rule(2, 1, "192.168.1.77", "255.255.255.0");
    EXPECT_TRUE(net.Keeps(Wire("8.8.8.8"), Wire("192.168.1.0")));
    EXPECT_TRUE(net.Keeps(Wire("8.8.8.8"), Wire("192.168.1.255")));
    EXPECT_FALSE(net.Keeps(Wire("192.168.1.3"), Wire("192.168.2.1")));

    const FilterRule source = Rule(0, 2, "10.0.0.5");
    EXPECT_FALSE(source.Keeps(Wire("1.2.3.4"), Wire("10.0.0.5")));
    EXPECT_TRUE(source.Keeps(Wire("10.0.0.5"), Wire("1.2.3.4")));
}

TEST(FilterRule, IgnoreNetWithEmptyMaskDropsEverything)
{
    uint32_t shown = 1, mask = 1;
    const FilterRule rule = BuildFilterRule(3, 0, ntohl(Wire("10.9.8.7")), 0, &shown, &mask);
    EXPECT_EQ(shown, 0u);
    EXPECT_EQ(mask, 0u);
    EXPECT_FALSE(rule.Keeps(Wire("10.9.8.7"), Wire("1.1.1.1")));
    EXPECT_FALSE(rule.Keeps(0, 0));
}

TEST(FilterRule, AddressIsMaskedAndFormattedInWireOrder)
{
    uint32_t shown = 0, mask = 0;
    const FilterRule rule = BuildFilterRule(2, 0, ntohl(Wire("10.1.2.3")), ntohl(Wire("255.255.0.0")), &shown, &mask);
    EXPECT_EQ(shown, ntohl(Wire("10.1.0.0")));
    EXPECT_EQ(mask, ntohl(Wire("255.255.0.0")));
    EXPECT_EQ(rule.address, Wire("10.1.0.0"));
    EXPECT_EQ(FormatFilterRule(rule), "<ipfilter act=\"capture\" dir=\"both\" ip=\"10.1.0.0\" mask=\"255.255.0.0\" />");

    // The IP presets ignore the entered mask.
    EXPECT_EQ(Rule(1, 2, "10.1.2.3", "255.0.0.0").mask, 0xFFFFFFFFu);
}

TEST(FilterRule, OutOfRangeFieldsReadAsDefaults)
{
    FilterRule rule;
    rule.action = 5;
    rule.direction = 7;
    rule.address = Wire("10.0.0.1");
    rule.mask = Wire("255.255.255.255");
    EXPECT_EQ(FormatFilterRule(rule),
              "<ipfilter act=\"capture\" dir=\"both\" ip=\"10.0.0.1\" mask=\"255.255.255.255\" />");
    EXPECT_TRUE(rule.Keeps(Wire("1.1.1.1"), Wire("10.0.0.1")));
    rule.action = 0;
    rule.direction = 1;
    EXPECT_EQ(FormatFilterRule(rule),
              "<ipfilter act=\"ignore\" dir=\"dst\" ip=\"10.0.0.1\" mask=\"255.255.255.255\" />");
    rule.direction = 2;
    EXPECT_NE(FormatFilterRule(rule).find("dir=\"src\""), std::string::npos);
}

}  // namespace
}  // namespace kestrine
