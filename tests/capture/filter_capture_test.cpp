// A capture filter expression on a real capture as root, in a private network namespace:
// attached to the packet socket, the kernel passes exactly the datagrams it keeps; run in
// the capture thread instead (as on Windows), the same ones are stored.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "capture/capture_session.h"
#include "capture/stopwatch.h"
#include "filter/filter_expression.h"
#include "tests/support/netns.h"

namespace kestrine {
namespace {

class LiveCaptureFilter : public ::testing::TestWithParam<bool> {};

TEST_P(LiveCaptureFilter, KeepsExactlyWhatTheExpressionMatches)
{
    const bool inKernel = GetParam();
    if (!testnet::EnterPrivateNamespace()) GTEST_SKIP() << testnet::WhyNot();
    testnet::Peer peer;
    ASSERT_TRUE(peer.Start());
    HostAddress address;
    address.Resolve("198.18.0.1", 5000);
    CaptureSession s(address, 1024, 8096);
    ASSERT_TRUE(s.m_ready) << "errors " << s.m_errors;
    // The peer's datagrams to port 9003 with an even sequence number (the payload's first
    // byte); not the port-unreachable answers going back, nor our own datagrams out.
    std::vector<BpfInstruction> program;
    FilterError error;
    ASSERT_TRUE(CompileFilter("src host 198.18.0.2 and udp dst port 9003 and udp[8] & 1 = 0", program, error))
        << FilterErrorText(error);
    EXPECT_EQ(s.SetCaptureFilter(program, inKernel), inKernel);
    EXPECT_EQ(s.CaptureFilterInKernel(), inKernel);
    s.Reset();
    s.Start(&CaptureSession::CaptureThread);
    ASSERT_EQ(testnet::SendUdp("198.18.0.2", 9003, 6, 16), 6);
    ASSERT_TRUE(peer.SendUdp(20, 9003));
    for (int last = -1, waited = 0; waited < 50; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (s.PacketCount() == last && last >= 10) break;
        last = s.PacketCount();
    }
    s.m_stopRequested = true;
    const double until = g_stopwatch.Elapsed() + 10.0;
    while (!s.m_finished.load() && g_stopwatch.Elapsed() < until) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(s.m_finished.load());

    ASSERT_EQ(s.PacketCount(), 10);
    for (int i = 0; i < s.PacketCount(); ++i) {
        const PacketRecord& r = s.m_index[i];
        ASSERT_EQ(r.length, 60) << i;
        EXPECT_EQ(r.data[9], 17) << i;
        EXPECT_EQ(r.data[15], 2) << i;  // from 198.18.0.2
        EXPECT_EQ(r.data[22] << 8 | r.data[23], 9003) << i;
        EXPECT_EQ(r.data[28], 2 * i) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(InKernelAndInThread, LiveCaptureFilter, ::testing::Bool());

}  // namespace
}  // namespace kestrine
