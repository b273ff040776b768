// Limit-field reading and a session following the dialog's settings.
#include "ui/capture_settings.h"

#include <gtest/gtest.h>

#include "capture/capture_session.h"

namespace kestrine {
namespace {

uint32_t Read(const char* text)
{
    uint32_t value = 12345;
    EXPECT_TRUE(ReadLimitText(text, &value)) << text;
    return value;
}

TEST(LimitText, ReadsLikeUnsignedScan)
{
    EXPECT_EQ(Read("1000"), 1000u);
    EXPECT_EQ(Read("  \t42"), 42u);
    EXPECT_EQ(Read("12abc"), 12u);
    EXPECT_EQ(Read("+7"), 7u);
    EXPECT_EQ(Read("-5"), 4294967291u);  // modulo 2^32; the session's setter makes it 1
    EXPECT_EQ(Read("4294967295"), 4294967295u);
    EXPECT_EQ(Read("99999999999999999999999"), 4294967295u);
    EXPECT_EQ(Read("0"), 0u);
    // Only the first 63 characters count.
    EXPECT_EQ(Read((std::string(62, ' ') + "7").c_str()), 7u);
    uint32_t value = 9;
    for (const char* bad : {"", "abc", "-", " + 5", "x12"}) {
        EXPECT_FALSE(ReadLimitText(bad, &value)) << bad;
        EXPECT_EQ(value, 9u);
    }
    EXPECT_FALSE(ReadLimitText(std::string(63, ' ') + "7", &value));
}

TEST(SessionSettings, ANewSessionFollowsEveryDialogValue)
{
    CaptureSettings settings;
    settings.m_kilobytes = 5000;  // clamped by the session
    settings.m_seconds = 100000;
    settings.m_packets = 0x80000000u;  // taken as signed: 1
    settings.m_other = 0;
    settings.m_tcp = 0;
    settings.m_filterEnable = 1;
    settings.m_appliedRule = BuildFilterRule(3, 1, 0xC0A8014D, 0xFFFFFF00);
    CaptureSession session(HostAddress{}, 1024, 8096);
    ApplySettingsToSession(settings, session);
    EXPECT_EQ(session.m_kilobyteLimit, 1024);
    EXPECT_EQ(session.m_secondsLimit, 100000);
    EXPECT_EQ(session.m_packetLimit, 1);
    EXPECT_TRUE(session.m_keepUdp);
    EXPECT_TRUE(session.m_keepIcmp);
    EXPECT_TRUE(session.m_keepIgmp);
    EXPECT_FALSE(session.m_keepTcp);
    EXPECT_FALSE(session.m_keepOther);
    EXPECT_TRUE(session.m_filterEnabled);
    EXPECT_EQ(FormatFilterRule(session.m_filter), FormatFilterRule(settings.m_appliedRule));

    // The defaults: OTHER unchecked, filtering off, the default (match-all) rule.
    CaptureSession fresh(HostAddress{}, 1024, 8096);
    ApplySettingsToSession(CaptureSettings{}, fresh);
    EXPECT_FALSE(fresh.m_keepOther);
    EXPECT_FALSE(fresh.m_filterEnabled);
    EXPECT_EQ(fresh.m_filter.mask, 0u);
    EXPECT_EQ(fresh.m_packetLimit, 1000);
    EXPECT_EQ(fresh.m_secondsLimit, 3600);
    EXPECT_EQ(fresh.m_kilobyteLimit, 100);
}

}  // namespace
}  // namespace kestrine
