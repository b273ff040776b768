// The capture loop against a scripted socket: set-up bits, limits, protocol switches,
// filter, buffer room, record invariants, times shown and saved, abort and destruction.
#include "capture/capture_session.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "capture/stopwatch.h"
#include "tests/capture/scripted_socket.h"
#include "capture_file/save_packets.h"
#include "filter/filter_expression.h"

namespace kestrine {
namespace {

using script::Datagram;

constexpr uint32_t HOST_A = 0x0A000005;  // 10.0.0.5
constexpr uint32_t HOST_B = 0xC0000201;  // 192.0.2.1
constexpr uint32_t HOST_C = 0xC6336407;  // 198.51.100.7
constexpr int64_t NS_PER_SECOND = 1000000000;

int64_t WallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::unique_ptr<CaptureSession> NewSession(uint32_t kilobytes = 1024, uint32_t entries = 8096,
                                           script::Failures failures = {})
{
    script::Reset(failures);
    return std::make_unique<CaptureSession>(HostAddress{}, kilobytes, entries);
}

bool WaitFinished(CaptureSession& s, double seconds = 10.0)
{
    const double until = g_stopwatch.Elapsed() + seconds;
    while (!s.m_finished.load() && g_stopwatch.Elapsed() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return s.m_finished.load();
}

// Reset, queue the datagrams, capture until a limit ends it.
void Capture(CaptureSession& s, const std::vector<std::vector<uint8_t>>& datagrams)
{
    s.Reset();
    for (const auto& d : datagrams) script::Push(d);
    s.Start(&CaptureSession::CaptureThread);
    ASSERT_TRUE(WaitFinished(s));
}

// Records lie back to back from the buffer's start and add up; times grow within one capture.
void ExpectInvariants(const CaptureSession& s, bool oneCapture = true)
{
    const int count = s.PacketCount();
    ASSERT_LE(count, s.m_packetLimit);
    int64_t sum = 0;
    for (int i = 0; i < count; ++i) {
        const PacketRecord& r = s.m_index[i];
        EXPECT_EQ(r.data, i == 0 ? s.m_buffer : s.m_index[i - 1].data + s.m_index[i - 1].length) << i;
        if (i > 0 && oneCapture) {
            EXPECT_GE(r.timestamp, s.m_index[i - 1].timestamp) << i;
        }
        sum += r.length;
    }
    if (count > 0) {
        EXPECT_GE(s.m_index[0].timestamp, 0.0f);
    }
    EXPECT_EQ(sum, s.m_bytesCaptured);
    EXPECT_LE(s.m_bytesCaptured, s.m_bufferSize);
}

TEST(CaptureSessionSetup, DefaultSizesAndLimits)
{
    auto s = NewSession(1024, 8096);
    EXPECT_TRUE(s->m_ready);
    EXPECT_EQ(s->m_errors, 0u);
    EXPECT_EQ(s->m_bufferSize, 1048576);
    EXPECT_EQ(s->m_indexCapacity, 8096);
    EXPECT_EQ(s->m_kilobyteLimit, 1024);
    EXPECT_EQ(s->m_packetLimit, 8096);
    EXPECT_EQ(s->m_secondsLimit, 100);
    EXPECT_TRUE(s->m_finished.load());
    EXPECT_FALSE(s->m_stopRequested.load());
    EXPECT_FALSE(s->m_filterEnabled);
    EXPECT_TRUE(s->m_keepUdp && s->m_keepIcmp && s->m_keepIgmp && s->m_keepTcp && s->m_keepOther);
}

TEST(CaptureSessionSetup, ConstructorArgumentsAreClamped)
{
    auto tiny = NewSession(0, 0);
    EXPECT_EQ(tiny->m_bufferSize, 1024);
    EXPECT_EQ(tiny->m_indexCapacity, 10);
    EXPECT_EQ(NewSession(1, 9)->m_indexCapacity, 10);
    EXPECT_EQ(NewSession(1, 100000)->m_indexCapacity, 8192);
    EXPECT_EQ(NewSession(1, 0xFFFFFFFFu)->m_indexCapacity, 8192);
    auto huge = NewSession(0xFFFFFFFFu, 10);
    EXPECT_EQ(huge->m_bufferSize, 1 << 30);
    EXPECT_EQ(huge->m_kilobyteLimit, 1048576);
}

TEST(CaptureSessionSetup, LimitSettersClamp)
{
    auto s = NewSession(1024, 8096);
    EXPECT_EQ(s->SetPacketLimit(0), 1);
    EXPECT_EQ(s->SetPacketLimit(-5), 1);
    EXPECT_EQ(s->SetPacketLimit(9000), 8096);
    EXPECT_EQ(s->SetPacketLimit(1000), 1000);
    EXPECT_EQ(s->SetKilobyteLimit(5000), 1024);
    EXPECT_EQ(s->SetKilobyteLimit(-1), 1);
    EXPECT_EQ(s->SetSecondsLimit(0), 1);
    EXPECT_EQ(s->SetSecondsLimit(86400), 86400);
    EXPECT_EQ(s->m_secondsLimit, 86400);
}

TEST(CaptureSessionSetup, FailedStepsSetTheirBits)
{
    script::Failures noSocket;
    noSocket.create = true;
    auto a = NewSession(1024, 8096, noSocket);
    EXPECT_EQ(a->m_errors, 0x2Fu);
    EXPECT_FALSE(a->m_ready);

    script::Failures noBind;
    noBind.bind = true;
    auto b = NewSession(1024, 8096, noBind);
    EXPECT_EQ(b->m_errors, CAPTURE_ERR_BIND | CAPTURE_ERR_RCVALL);
    EXPECT_FALSE(b->m_socket.IsOpen());
    EXPECT_FALSE(b->m_ready);

    script::Failures noTimeout;
    noTimeout.receiveTimeout = true;
    EXPECT_EQ(NewSession(1024, 8096, noTimeout)->m_errors, CAPTURE_ERR_RCVTIMEO);
    script::Failures noReceiveAll;
    noReceiveAll.receiveAll = true;
    EXPECT_EQ(NewSession(1024, 8096, noReceiveAll)->m_errors, CAPTURE_ERR_RCVALL);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && !defined(_WIN32)
TEST(CaptureSessionSetup, FailedAllocationSetsMemoryBit)
{
    // In a child whose address space is capped, the 1 GiB buffer cannot be had.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit cap{256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &cap);
        script::Reset();
        CaptureSession s(HostAddress{}, CaptureSession::MAX_BUFFER_KILOBYTES, 8192);
        _exit(s.m_errors == CAPTURE_ERR_MEMORY && !s.m_ready ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
#endif

TEST(CaptureLoop, PacketLimitStoresExactlyThatMany)
{
    auto s = NewSession();
    s->SetPacketLimit(1);
    Capture(*s, {Datagram(17, HOST_A, HOST_B, 60), Datagram(17, HOST_A, HOST_B, 70)});
    EXPECT_EQ(s->PacketCount(), 1);
    EXPECT_EQ(s->m_index[0].length, 60);

    s->SetPacketLimit(1000);
    std::vector<std::vector<uint8_t>> many(1200, Datagram(6, HOST_A, HOST_B, 40));
    Capture(*s, many);
    EXPECT_EQ(s->PacketCount(), 1000);
    ExpectInvariants(*s);
    // The limit ended the capture: the stop request is cleared for the next one.
    EXPECT_FALSE(s->m_stopRequested.load());
}

TEST(CaptureLoop, KilobyteLimitStoresTheDatagramThatCrossesIt)
{
    auto s = NewSession();
    s->SetKilobyteLimit(1);
    Capture(*s, {Datagram(17, HOST_A, HOST_B, 400), Datagram(17, HOST_A, HOST_B, 400), Datagram(17, HOST_A, HOST_B, 400),
                 Datagram(17, HOST_A, HOST_B, 400)});
    EXPECT_EQ(s->PacketCount(), 3);
    EXPECT_EQ(s->m_bytesCaptured, 1200);
    ExpectInvariants(*s);
}

TEST(CaptureLoop, StoredBytesAreTheDatagramAndTimesGrow)
{
    auto s = NewSession();
    s->SetPacketLimit(3);
    const auto first = Datagram(6, HOST_A, HOST_B, 52, 0x11);
    const auto second = Datagram(17, HOST_B, HOST_C, 33, 0x22);
    const auto third = Datagram(1, HOST_C, HOST_A, 84, 0x33);
    Capture(*s, {first, {}, second, {}, {}, third});
    ASSERT_EQ(s->PacketCount(), 3);
    EXPECT_EQ(std::vector<uint8_t>(s->m_index[0].data, s->m_index[0].data + 52), first);
    EXPECT_EQ(std::vector<uint8_t>(s->m_index[1].data, s->m_index[1].data + 33), second);
    EXPECT_EQ(std::vector<uint8_t>(s->m_index[2].data, s->m_index[2].data + 84), third);
    EXPECT_GT(s->m_index[2].timestamp, s->m_index[0].timestamp);  // three time-outs lie between
    ExpectInvariants(*s);
}

// Arrival times from the socket are placed on the capture's time line, which begins at
// Start: a datagram that arrived before it is not stored; a time is never after the moment
// of reading, never before the datagram before.
TEST(CaptureLoop, ArrivalTimesArePlacedOnTheTimeLine)
{
    auto s = NewSession();
    s->SetPacketLimit(4);
    const int64_t hourAhead = WallClockNs() + int64_t{3600} * NS_PER_SECOND;
    s->Reset();
    const double begin = g_stopwatch.Elapsed();
    s->Start(&CaptureSession::CaptureThread);
    const int64_t startNs = s->m_startWallClockNs;
    script::PushStamped(Datagram(17, HOST_A, HOST_B, 40), startNs - 1);  // before the start
    script::PushStamped(Datagram(17, HOST_A, HOST_B, 41), startNs + 1000);
    script::Push({});
    script::PushStamped(Datagram(17, HOST_A, HOST_B, 42), hourAhead);  // after the reading
    script::PushStamped(Datagram(17, HOST_A, HOST_B, 43), startNs + 2000);  // would go back
    script::Push(Datagram(17, HOST_A, HOST_B, 44));                         // no arrival time
    ASSERT_TRUE(WaitFinished(*s));
    const double took = g_stopwatch.Elapsed() - begin;
    ASSERT_EQ(s->PacketCount(), 4);
    EXPECT_EQ(s->m_index[0].length, 41);
    EXPECT_EQ(s->m_index[0].timestamp, 1e-6f);
    EXPECT_GT(s->m_index[1].timestamp, 0.0f);  // a time-out lies between
    EXPECT_LE(s->m_index[1].timestamp, static_cast<float>(took));
    EXPECT_EQ(s->m_index[2].timestamp, s->m_index[1].timestamp);
    EXPECT_GE(s->m_index[3].timestamp, s->m_index[2].timestamp);
    ExpectInvariants(*s);
}

// A session whose capture began long before Start, by its stopwatch and its wall clock alike.
class SessionStartedLongAgo : public CaptureSession {
public:
    static constexpr int64_t AGO_SECONDS = 3000;
    using CaptureSession::CaptureSession;

protected:
    void Starting() override
    {
        CaptureSession::Starting();
        m_startSeconds -= static_cast<double>(AGO_SECONDS);
        m_startWallClockNs -= AGO_SECONDS * NS_PER_SECOND;
    }
};

// Seconds and nanoseconds of each record of a pcap file (nanosecond magic, host order).
std::vector<std::pair<uint32_t, uint32_t>> SavedStamps(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    auto u32 = [&](size_t at) {
        uint32_t value = 0;
        std::memcpy(&value, bytes.data() + at, sizeof value);
        return value;
    };
    std::vector<std::pair<uint32_t, uint32_t>> stamps;
    for (size_t at = 24; at + 16 <= bytes.size(); at += 16 + u32(at + 8)) stamps.emplace_back(u32(at), u32(at + 4));
    return stamps;
}

// About 3000 s into a capture a float of seconds is 244 us coarse: the list shows that float,
// the saved file the kernel's arrival time to the nanosecond, or without one the moment of
// reading to the nanosecond.
TEST(CaptureLoop, SavedTimesAreTheArrivalTimesToTheNanosecond)
{
    script::Reset();
    SessionStartedLongAgo s(HostAddress{}, 1024, 8096);
    s.SetSecondsLimit(86400);
    s.SetPacketLimit(4);
    s.Reset();
    const int64_t before = WallClockNs();
    s.Start(&CaptureSession::CaptureThread);
    const int64_t startNs = s.m_startWallClockNs;
    const int64_t lateNs = (SessionStartedLongAgo::AGO_SECONDS - 1) * NS_PER_SECOND;  // already past
    const int64_t stamps[3] = {startNs + lateNs + 1, startNs + lateNs + 123457, startNs + lateNs + 999999999};
    for (const int64_t stamp : stamps) script::PushStamped(Datagram(17, HOST_A, HOST_B, 40), stamp);
    script::Push(Datagram(17, HOST_A, HOST_B, 40));
    ASSERT_TRUE(WaitFinished(s));
    const int64_t after = WallClockNs();
    ASSERT_EQ(s.PacketCount(), 4);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(s.m_index[i].arrivalNs, stamps[i]) << i;
        EXPECT_NEAR(s.m_index[i].timestamp, static_cast<double>(stamps[i] - startNs) * 1e-9, 2.5e-4) << i;
    }
    const PacketRecord& read = s.m_index[3];
    EXPECT_GE(read.arrivalNs, before);
    EXPECT_LE(read.arrivalNs, after);
    EXPECT_NE(read.arrivalNs, startNs + std::llround(static_cast<double>(read.timestamp) * 1e9)) << "from the float";

    const std::string path = ::testing::TempDir() + "kestrine-long-capture.pcap";
    std::string error;
    ASSERT_TRUE(SavePackets(s.m_index, s.PacketCount(), path, &error)) << error;
    const auto saved = SavedStamps(path);
    std::remove(path.c_str());
    ASSERT_EQ(saved.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(saved[i].first, s.m_index[i].arrivalNs / NS_PER_SECOND) << i;
        EXPECT_EQ(saved[i].second, s.m_index[i].arrivalNs % NS_PER_SECOND) << i;
    }
}

TEST(CaptureLoop, ProtocolSwitchesSelectByByteNine)
{
    auto s = NewSession();
    s->m_keepOther = false;
    s->SetPacketLimit(3);
    Capture(*s, {Datagram(41, HOST_A, HOST_B, 40), Datagram(50, HOST_A, HOST_B, 40), Datagram(1, HOST_A, HOST_B, 40),
                 Datagram(2, HOST_A, HOST_B, 40), Datagram(6, HOST_A, HOST_B, 40)});
    ASSERT_EQ(s->PacketCount(), 3);
    EXPECT_EQ(s->m_index[0].data[9], 1);
    EXPECT_EQ(s->m_index[1].data[9], 2);
    EXPECT_EQ(s->m_index[2].data[9], 6);

    s->m_keepOther = true;
    s->m_keepIcmp = s->m_keepIgmp = s->m_keepTcp = s->m_keepUdp = false;
    s->SetPacketLimit(2);
    Capture(*s, {Datagram(1, HOST_A, HOST_B, 40), Datagram(2, HOST_A, HOST_B, 40), Datagram(6, HOST_A, HOST_B, 40),
                 Datagram(17, HOST_A, HOST_B, 40), Datagram(0, HOST_A, HOST_B, 40), Datagram(41, HOST_A, HOST_B, 40)});
    ASSERT_EQ(s->PacketCount(), 2);
    EXPECT_EQ(s->m_index[0].data[9], 0);
    EXPECT_EQ(s->m_index[1].data[9], 41);
}

TEST(CaptureLoop, RejectedDatagramLeavesNoGap)
{
    auto s = NewSession();
    s->m_keepUdp = false;
    s->SetPacketLimit(2);
    Capture(*s, {Datagram(17, HOST_A, HOST_B, 300), Datagram(6, HOST_A, HOST_B, 44), Datagram(17, HOST_A, HOST_B, 300),
                 Datagram(6, HOST_A, HOST_B, 48)});
    ASSERT_EQ(s->PacketCount(), 2);
    EXPECT_EQ(s->m_index[0].data, s->m_buffer);
    EXPECT_EQ(s->m_index[1].data, s->m_buffer + 44);
    EXPECT_EQ(s->m_bytesCaptured, 92);
}

TEST(CaptureLoop, FilterActsAfterTheSwitchesAndOnlyWhenEnabled)
{
    auto s = NewSession();
    s->m_filter = BuildFilterRule(0, 0, HOST_A, 0);  // capture IP 10.0.0.5, either direction
    s->SetPacketLimit(2);
    // Off: the rule is not consulted.
    Capture(*s, {Datagram(17, HOST_B, HOST_C, 40), Datagram(17, HOST_C, HOST_B, 40)});
    EXPECT_EQ(s->PacketCount(), 2);

    s->m_filterEnabled = true;
    Capture(*s, {Datagram(17, HOST_B, HOST_C, 40), Datagram(17, HOST_A, HOST_C, 41), Datagram(6, HOST_C, HOST_B, 40),
                 Datagram(6, HOST_C, HOST_A, 42)});
    ASSERT_EQ(s->PacketCount(), 2);
    EXPECT_EQ(s->m_index[0].length, 41);
    EXPECT_EQ(s->m_index[1].length, 42);

    // Ignore rule: a datagram whose switch is off stays dropped although the rule would keep it.
    s->m_filter = BuildFilterRule(1, 0, HOST_A, 0);
    s->m_keepTcp = false;
    s->SetPacketLimit(1);
    Capture(*s, {Datagram(6, HOST_B, HOST_C, 40), Datagram(17, HOST_A, HOST_B, 40), Datagram(17, HOST_B, HOST_C, 43)});
    ASSERT_EQ(s->PacketCount(), 1);
    EXPECT_EQ(s->m_index[0].length, 43);
}

// Where the socket takes no filter (Windows, the scripted socket) the capture thread runs
// the expression, beside the switches and the address rule; an empty program removes it.
TEST(CaptureLoop, CaptureFilterExpressionRunsBesideSwitchesAndRule)
{
    auto s = NewSession();
    std::vector<BpfInstruction> program;
    FilterError error;
    ASSERT_TRUE(CompileFilter("udp or greater 44", program, error)) << FilterErrorText(error);
    EXPECT_FALSE(s->SetCaptureFilter(program));
    EXPECT_FALSE(s->CaptureFilterInKernel());
    s->m_filter = BuildFilterRule(1, 0, HOST_A, 0);  // ignore IP 10.0.0.5
    s->m_filterEnabled = true;
    s->m_keepIcmp = false;
    s->SetPacketLimit(3);
    Capture(*s, {Datagram(6, HOST_B, HOST_C, 40), Datagram(17, HOST_A, HOST_C, 41), Datagram(1, HOST_B, HOST_C, 60),
                 Datagram(17, HOST_B, HOST_C, 42), Datagram(6, HOST_C, HOST_B, 44), Datagram(2, HOST_B, HOST_C, 45)});
    ASSERT_EQ(s->PacketCount(), 3);
    EXPECT_EQ(s->m_index[0].length, 42);
    EXPECT_EQ(s->m_index[1].length, 44);
    EXPECT_EQ(s->m_index[2].length, 45);
    ExpectInvariants(*s);

    EXPECT_FALSE(s->SetCaptureFilter({}));
    s->SetPacketLimit(1);
    Capture(*s, {Datagram(6, HOST_B, HOST_C, 40)});
    ASSERT_EQ(s->PacketCount(), 1);
    EXPECT_EQ(s->m_index[0].length, 40);
}

TEST(CaptureLoop, ShortDatagramsAreReadOnlyAsFarAsReceived)
{
    // Protocol byte missing: "other". Address bytes missing: zero.
    auto s = NewSession();
    s->SetPacketLimit(2);
    s->m_keepOther = false;
    Capture(*s, {std::vector<uint8_t>(9, 0x01), std::vector<uint8_t>(10, 0x01), std::vector<uint8_t>(3, 0x11),
                 Datagram(17, HOST_A, HOST_B, 28)});
    ASSERT_EQ(s->PacketCount(), 2);
    EXPECT_EQ(s->m_index[0].length, 10);  // byte 9 received: ICMP
    EXPECT_EQ(s->m_index[1].length, 28);

    s->m_keepOther = true;
    s->m_filterEnabled = true;
    s->m_filter = BuildFilterRule(0, 0, HOST_A, 0);  // needs 10.0.0.5: a short datagram has no address
    Capture(*s, {std::vector<uint8_t>(15, 0x0A), std::vector<uint8_t>(19, 0x0A), Datagram(17, HOST_A, HOST_B, 20),
                 Datagram(17, HOST_B, HOST_A, 21)});
    ASSERT_EQ(s->PacketCount(), 2);
    EXPECT_EQ(s->m_index[0].length, 20);

    s->m_filter = BuildFilterRule(3, 0, HOST_A, 0);  // ignore everything, short datagrams included
    s->SetSecondsLimit(1);
    Capture(*s, {std::vector<uint8_t>(1, 0x45), std::vector<uint8_t>(16, 0x45), Datagram(17, HOST_A, HOST_B, 20)});
    EXPECT_EQ(s->PacketCount(), 0);
}

TEST(CaptureLoop, ADatagramTooLargeForTheRoomLeftEndsTheCapture)
{
    auto s = NewSession(1, 10);  // 1024-byte buffer, limit = whole buffer
    // Four bytes short of the limit, then one that does not fit and one that would.
    Capture(*s, {Datagram(17, HOST_A, HOST_B, 600), Datagram(17, HOST_A, HOST_B, 420), Datagram(17, HOST_A, HOST_B, 40),
                 std::vector<uint8_t>(4, 0x45)});
    ASSERT_EQ(s->PacketCount(), 2);
    EXPECT_EQ(s->m_index[1].length, 420);
    EXPECT_EQ(s->m_bytesCaptured, 1020);
    // Each receive is given exactly the room left; the datagram that does not fit ends the
    // capture as the kilobyte limit would, and is not stored.
    EXPECT_EQ(script::ReceiveRooms(), (std::vector<int>{1024, 424, 4}));
    EXPECT_FALSE(s->m_stopRequested.load());
    ExpectInvariants(*s);
}

TEST(CaptureLoop, TimeLimitEndsAQuietCapture)
{
    auto s = NewSession();
    s->m_keepIcmp = s->m_keepIgmp = s->m_keepTcp = s->m_keepUdp = s->m_keepOther = false;
    s->SetSecondsLimit(1);
    const double begin = g_stopwatch.Elapsed();
    Capture(*s, {Datagram(17, HOST_A, HOST_B, 40), Datagram(6, HOST_A, HOST_B, 40)});
    EXPECT_GE(g_stopwatch.Elapsed() - begin, 1.0);
    EXPECT_EQ(s->PacketCount(), 0);
    EXPECT_FALSE(s->m_stopRequested.load());
}

TEST(CaptureLoop, AbortKeepsWhatWasStoredAndNextCaptureStartsAfresh)
{
    auto s = NewSession();
    s->Reset();
    script::Push(Datagram(17, HOST_A, HOST_B, 40));
    script::Push(Datagram(17, HOST_A, HOST_B, 50));
    s->Start(&CaptureSession::CaptureThread);
    EXPECT_FALSE(s->m_finished.load());
    const double until = g_stopwatch.Elapsed() + 5.0;
    while (s->PacketCount() < 2 && g_stopwatch.Elapsed() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    s->m_stopRequested = true;
    ASSERT_TRUE(WaitFinished(*s));
    EXPECT_EQ(s->PacketCount(), 2);
    EXPECT_EQ(s->m_index[1].length, 50);
    EXPECT_FALSE(s->m_stopRequested.load());

    s->SetPacketLimit(1);
    Capture(*s, {Datagram(6, HOST_A, HOST_B, 64)});
    EXPECT_EQ(s->PacketCount(), 1);
    EXPECT_EQ(s->m_index[0].length, 64);
    EXPECT_EQ(s->m_index[1].data, nullptr);  // Reset cleared the old entries
    EXPECT_GE(script::DrainCalls(), 2);
}

TEST(CaptureLoop, AbortAfterALimitEndedTheCaptureDoesNotCutTheNextOne)
{
    auto s = NewSession();
    s->SetPacketLimit(1);
    Capture(*s, {Datagram(17, HOST_A, HOST_B, 40)});
    ASSERT_EQ(s->PacketCount(), 1);
    s->m_stopRequested = true;  // Abort pressed before the window noticed the end

    s->SetPacketLimit(3);
    Capture(*s, {Datagram(17, HOST_A, HOST_B, 41), Datagram(17, HOST_A, HOST_B, 42), Datagram(17, HOST_A, HOST_B, 43)});
    EXPECT_EQ(s->PacketCount(), 3);
    EXPECT_EQ(s->m_index[2].length, 43);
}

// Start without Reset goes on after the stored records: it neither overwrites their bytes
// nor writes an entry past the index (the sanitizer build watches the latter).
TEST(CaptureLoop, StartWithoutResetKeepsEarlierRecordsAndTheIndexBound)
{
    auto s = NewSession(1024, 10);
    s->SetPacketLimit(2);
    Capture(*s, {Datagram(17, HOST_A, HOST_B, 60, 0x11), Datagram(17, HOST_A, HOST_B, 70, 0x22)});
    ASSERT_EQ(s->PacketCount(), 2);

    s->SetPacketLimit(4);
    script::Push(Datagram(6, HOST_A, HOST_B, 80, 0x33));
    script::Push(Datagram(6, HOST_A, HOST_B, 90, 0x44));
    s->Start(&CaptureSession::CaptureThread);
    ASSERT_TRUE(WaitFinished(*s));
    ASSERT_EQ(s->PacketCount(), 4);
    ExpectInvariants(*s, false);  // the second capture has a time line of its own
    EXPECT_EQ(s->m_index[0].data[30], 0x11);
    EXPECT_EQ(s->m_index[1].data[30], 0x22);
    EXPECT_EQ(s->m_index[3].data[30], 0x44);

    // Full index: a further Start stores nothing and ends as a full capture does.
    s->SetPacketLimit(10);
    Capture(*s, std::vector<std::vector<uint8_t>>(10, Datagram(17, HOST_A, HOST_B, 40)));
    ASSERT_EQ(s->PacketCount(), 10);
    const int32_t bytes = s->m_bytesCaptured;
    for (int i = 0; i < 3; ++i) script::Push(Datagram(17, HOST_A, HOST_B, 40, 0x55));
    s->Start(&CaptureSession::CaptureThread);
    ASSERT_TRUE(WaitFinished(*s));
    EXPECT_EQ(s->PacketCount(), 10);
    EXPECT_EQ(s->m_bytesCaptured, bytes);
    EXPECT_FALSE(s->m_stopRequested.load());
    ExpectInvariants(*s);
}

TEST(CaptureLoop, StartReturnsAtOnceEvenWhenTheCaptureEndsImmediately)
{
    auto s = NewSession();
    s->SetPacketLimit(1);
    s->Reset();
    script::Push(Datagram(6, HOST_A, HOST_B, 40));
    const double begin = g_stopwatch.Elapsed();
    s->Start(&CaptureSession::CaptureThread);
    EXPECT_LT(g_stopwatch.Elapsed() - begin, 1.5);  // not the 2.0 s fallback
    ASSERT_TRUE(WaitFinished(*s));
    EXPECT_EQ(s->PacketCount(), 1);
}

TEST(CaptureLoop, DestroyingARunningSessionStopsItsThreadFirst)
{
    auto s = NewSession();
    s->Reset();
    script::Push(Datagram(17, HOST_A, HOST_B, 40));
    s->Start(&CaptureSession::CaptureThread);
    EXPECT_FALSE(s->m_finished.load());
    s.reset();  // must end the thread before the buffer goes (the sanitizers watch this)
    const size_t receives = script::ReceiveRooms().size();
    EXPECT_GE(receives, 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(script::ReceiveRooms().size(), receives);  // no thread receives any more
}

}  // namespace
}  // namespace kestrine
