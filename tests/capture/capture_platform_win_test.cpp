// The capture platform files against Wine's Winsock and kernel: what a real session's
// set-up gets, the raw socket steps Wine does support, the stopwatch and the worker thread.
// The receive-all path itself needs Windows: Wine has no SIO_RCVALL.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "capture/capture_session.h"
#include "capture/raw_socket.h"
#include "capture/stopwatch.h"
#include "capture/stopwatch_win.h"
#include "capture/worker_thread.h"

namespace kestrine {
namespace {

constexpr int WSA_NOT_A_SOCKET = 10038;            // WSAENOTSOCK
constexpr int WSA_PROTOCOL_NOT_SUPPORTED = 10043;  // WSAEPROTONOSUPPORT
constexpr int WSA_OPERATION_NOT_SUPPORTED = 10045;  // WSAEOPNOTSUPP
constexpr int WSA_TIMED_OUT = 10060;                // WSAETIMEDOUT
constexpr int WSA_ACCESS_DENIED = 10013;            // WSAEACCES

bool UnderWine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

HostAddress Loopback()
{
    HostAddress address;
    EXPECT_TRUE(address.Resolve("127.0.0.1", 0));
    return address;
}

class CapturePlatform : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(StartNetworking());
        if (!UnderWine()) GTEST_SKIP() << "measures Wine's Winsock; on Windows the session opens for real";
    }
};

TEST_F(CapturePlatform, SessionSetUpUnderWineEndsWithTheSocketBitAndWhatFollows)
{
    CaptureSession session(Loopback(), 64, 100);
    // Wine refuses a raw socket for protocol 0 (10043), so there is no socket, and every
    // later step acts on none: the receive time-out (0x02), the header option (0x20), the
    // bind (0x04) and receive-all (0x08) each fail and set their bit. Memory is had.
    constexpr uint32_t EXPECTED =
        CAPTURE_ERR_SOCKET | CAPTURE_ERR_RCVTIMEO | CAPTURE_ERR_HDRINCL | CAPTURE_ERR_BIND | CAPTURE_ERR_RCVALL;
    static_assert(EXPECTED == 0x2F);
    EXPECT_EQ(session.m_errors, EXPECTED);
    EXPECT_FALSE(session.m_ready);
    EXPECT_FALSE(session.m_socket.IsOpen());
    // The bind on no socket was the last step to record its error.
    EXPECT_EQ(session.m_socket.m_lastError, WSA_NOT_A_SOCKET);

    RawSocket socket;
    EXPECT_EQ(socket.Create(SOCK_RAW, 0), SOCKET_CREATE_FAILED);
    EXPECT_EQ(socket.m_lastError, WSA_PROTOCOL_NOT_SUPPORTED);
}

TEST_F(CapturePlatform, SingleProtocolRawSocketTimesOutAndIsRefusedReceiveAll)
{
    RawSocket socket;
    if (socket.Create(SOCK_RAW, IPPROTO_UDP) != SOCKET_OK) {
        if (socket.m_lastError == WSA_ACCESS_DENIED) GTEST_SKIP() << "raw sockets need CAP_NET_RAW for Wine";
        FAIL() << "raw UDP socket refused: " << socket.m_lastError;
    }
    EXPECT_EQ(socket.SetReceiveTimeout(CaptureSession::RECEIVE_TIMEOUT_MS), SOCKET_OK);
    EXPECT_EQ(socket.SetSendTimeout(CaptureSession::RECEIVE_TIMEOUT_MS), SOCKET_OK);
    EXPECT_EQ(socket.SetHeaderIncluded(), SOCKET_OK);
    ASSERT_EQ(socket.Bind(Loopback()), SOCKET_OK);
    EXPECT_EQ(socket.ReceiveAll(), SOCKET_REFUSED);
    EXPECT_EQ(WSAGetLastError(), WSA_OPERATION_NOT_SUPPORTED);

    socket.Drain();  // nothing queued: returns at once
    uint8_t buffer[2048];
    const double before = g_stopwatch.Elapsed();
    EXPECT_EQ(socket.Receive(buffer, sizeof buffer), -1);
    EXPECT_EQ(socket.m_lastError, WSA_TIMED_OUT);
    EXPECT_LT(g_stopwatch.Elapsed() - before, 5.0);

    EXPECT_EQ(socket.Close(), 0);
    EXPECT_FALSE(socket.IsOpen());
}

TEST(Stopwatch, PerformanceCounterAdvances)
{
    EXPECT_TRUE(g_stopwatch.m_valid);
    EXPECT_GT(g_stopwatch.m_ticksPerSecond, 0.0);
    const double before = g_stopwatch.Elapsed();
    g_stopwatch.Wait(0.02);
    EXPECT_GE(g_stopwatch.Elapsed() - before, 0.02);
}

TEST(Stopwatch, FailedFrequencyQueryFallsBackToTheSteadyClock)
{
    SetFrequencyQuery([](int64_t*) { return false; });
    Stopwatch watch;
    SetFrequencyQuery(nullptr);
    EXPECT_FALSE(watch.m_valid);
    const double before = watch.Elapsed();
    watch.Wait(0.02);  // would never end on a clock stuck at 0
    const double after = watch.Elapsed();
    EXPECT_GE(after - before, 0.02);
    EXPECT_LT(after, 10.0);

    SetFrequencyQuery([](int64_t* ticks) {
        *ticks = 0;
        return true;
    });
    Stopwatch zero;
    SetFrequencyQuery(nullptr);
    EXPECT_FALSE(zero.m_valid);
    zero.Wait(0.01);
    EXPECT_GE(zero.Elapsed(), 0.01);
}

class Worker : public WorkerThread {
public:
    ~Worker() override { Join(); }
    static void Body(void* self)
    {
        auto* worker = static_cast<Worker*>(self);
        worker->m_threadId = GetCurrentThreadId();
        worker->m_finished.store(true, std::memory_order_release);
    }
    std::atomic<DWORD> m_threadId = 0;
};

TEST(WorkerThread, RunsTheFunctionOnItsOwnThread)
{
    Worker worker;
    for (int round = 0; round < 3; ++round) {
        ASSERT_NE(worker.Start(Worker::Body), 0u);
        const double deadline = g_stopwatch.Elapsed() + 5.0;
        while (!worker.m_finished.load(std::memory_order_acquire) && g_stopwatch.Elapsed() < deadline) Sleep(1);
        EXPECT_TRUE(worker.m_finished.load());
        EXPECT_NE(worker.m_threadId.load(), 0u);
        EXPECT_NE(worker.m_threadId.load(), GetCurrentThreadId());
        worker.m_threadId = 0;
    }
}

}  // namespace
}  // namespace kestrine
