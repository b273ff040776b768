// The line formatter against the C library's printf on the conversions it handles.
#include "decode/line_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

namespace kestrine {
namespace {

#define EXPECT_SAME(format, ...)                                               \
    do {                                                                       \
        char ours[256], theirs[256];                                           \
        const int n = FormatLine(ours, sizeof ours, format, __VA_ARGS__);     \
        const int m = std::snprintf(theirs, sizeof theirs, format, __VA_ARGS__); \
        EXPECT_STREQ(ours, theirs) << format;                                  \
        EXPECT_EQ(n, m) << format;                                             \
    } while (0)

TEST(LineFormat, IntegersMatchPrintf)
{
    for (int v : {0, 1, 9, 10, 255, 4096, 65535, -1, -42, INT_MAX, INT_MIN}) {
        EXPECT_SAME("%d|%1d|%2d|%3d|%5d|%-5d|% d|% 5d", v, v, v, v, v, v, v, v);
        EXPECT_SAME("%u|%x|%02x|%04x|%08x|%5u|%-8x", unsigned(v), unsigned(v), unsigned(v), unsigned(v),
                    unsigned(v), unsigned(v), unsigned(v));
    }
}

TEST(LineFormat, LongIntegersMatchPrintf)
{
    for (long long v : {0LL, -1LL, 2147483648LL, -2147483649LL, 5000000000LL, LLONG_MAX, LLONG_MIN}) {
        EXPECT_SAME("%lld|%5lld|%-12lld|% lld|%ld", v, v, v, v, static_cast<long>(v));
        EXPECT_SAME("%llu|%llx|%016llx|%lu", static_cast<unsigned long long>(v), static_cast<unsigned long long>(v),
                    static_cast<unsigned long long>(v), static_cast<unsigned long>(v));
    }
}

TEST(LineFormat, StringsAndFloatsMatchPrintf)
{
    for (const char* s : {"", "a", "TCP", "<PROTO>", "198.51.100.7", "a text longer than sixteen"}) {
        EXPECT_SAME("[%s][%-5s][%16s][%-16s][%-16.16s][%.3s]", s, s, s, s, s, s);
    }
    // 1/128 lies halfway at the sixth decimal; -0.0 and a tiny negative keep their sign.
    for (double t : {0.0, -0.0, -1e-9, 0.5, 1.0, 0.0078125, -0.0078125, 123.4567891, 99999.9999999, 1e12, 1e17,
                     -3.25, 9.9999995}) {
        EXPECT_SAME("% 13.6f|%f|%.0f|%-12.3f|%012.2f", t, t, t, t, t);
    }
    // Packet times as the summary line shows them: floats, many of them exact at the sixth
    // decimal.
    for (int i = 0; i < 20000; ++i) {
        const double t = static_cast<float>(i * 0.0137 + i * i * 1e-5);
        EXPECT_SAME("% 13.6f", t);
    }
    EXPECT_SAME("100%% %s", "done");
}

TEST(LineFormat, LongLinesAreCutAtCapacity)
{
    char out[8];
    EXPECT_EQ(FormatLine(out, sizeof out, "%s-%d", "abcdef", 12345), 7);
    EXPECT_STREQ(out, "abcdef-");
}

}  // namespace
}  // namespace kestrine
