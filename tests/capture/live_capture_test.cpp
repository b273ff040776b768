// Real captures as root, in a private network namespace: loopback traffic arrives whole,
// in order, once; every limit and the abort; both directions on a veth link; the ring's
// drain, arrival times and largest datagram; nothing from before Begin Capture under a
// flood; a link taken down and an interface removed; capture with CAP_NET_RAW alone;
// set-up failures.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/ip_icmp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "capture/capture_session.h"
#include "capture/stopwatch.h"
#include "tests/support/netns.h"

namespace kestrine {
namespace {

#define REQUIRE_CAPTURE() \
    if (!testnet::EnterPrivateNamespace()) GTEST_SKIP() << testnet::WhyNot()

std::unique_ptr<CaptureSession> SessionOn(const char* dotted)
{
    HostAddress address;
    address.Resolve(dotted, 5000);
    return std::make_unique<CaptureSession>(address, 1024, 8096);
}

void Begin(CaptureSession& s)
{
    s.Reset();
    s.Start(&CaptureSession::CaptureThread);
}

bool WaitFinished(CaptureSession& s, double seconds = 10.0)
{
    const double until = g_stopwatch.Elapsed() + seconds;
    while (!s.m_finished.load() && g_stopwatch.Elapsed() < until) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return s.m_finished.load();
}

// Aborts once the packet count has stopped growing for 100 ms (at most 5 s), so a
// loaded machine does not cut off datagrams that are still queued.
void Abort(CaptureSession& s)
{
    const double until = g_stopwatch.Elapsed() + 5.0;
    for (int last = -1; g_stopwatch.Elapsed() < until;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int now = s.PacketCount();
        if (now == last) break;
        last = now;
    }
    s.m_stopRequested = true;
    ASSERT_TRUE(WaitFinished(s));
}

struct Sink {
    int port = 0;
    int fd = testnet::BindLoopbackUdp(&port);
    ~Sink() { close(fd); }
};

bool IsUdpTo(const PacketRecord& r, int port)
{
    if (r.length < 28 || r.data[9] != 17) return false;
    const int ihl = (r.data[0] & 0x0F) * 4;
    return ((r.data[ihl + 2] << 8) | r.data[ihl + 3]) == port;
}

TEST(LiveCapture, LoopbackDatagramsArriveWholeInOrderOnce)
{
    REQUIRE_CAPTURE();
    auto s = SessionOn("127.0.0.1");
    ASSERT_TRUE(s->m_ready) << "errors " << s->m_errors;
    Sink sink;
    Begin(*s);
    constexpr int COUNT = 40;
    ASSERT_EQ(testnet::SendUdp("127.0.0.1", sink.port, COUNT, 100, 0x3C), COUNT);
    Abort(*s);

    int seen = 0;
    for (int i = 0; i < s->PacketCount(); ++i) {
        const PacketRecord& r = s->m_index[i];
        if (!IsUdpTo(r, sink.port)) continue;
        ASSERT_EQ(r.length, 20 + 8 + 100);
        EXPECT_EQ(r.data[0], 0x45);
        EXPECT_EQ((r.data[2] << 8) | r.data[3], r.length);  // total length: nothing cut
        EXPECT_EQ(r.data[28], seen) << "out of order or duplicated";
        EXPECT_EQ(r.data[28 + 99], 0x3C);
        ++seen;
    }
    EXPECT_EQ(seen, COUNT);
}

TEST(LiveCapture, IcmpEchoAndItsReplyAreBothCaptured)
{
    REQUIRE_CAPTURE();
    auto s = SessionOn("127.0.0.1");
    ASSERT_TRUE(s->m_ready);
    Begin(*s);
    const int raw = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    ASSERT_GE(raw, 0);
    unsigned char echo[16] = {ICMP_ECHO, 0, 0, 0, 0x12, 0x34, 0, 1};
    uint32_t sum = 0;
    for (int i = 0; i < 16; i += 2) sum += (echo[i] << 8) | echo[i + 1];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    echo[2] = static_cast<unsigned char>(~sum >> 8);
    echo[3] = static_cast<unsigned char>(~sum);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(sendto(raw, echo, sizeof echo, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 16);
    close(raw);
    Abort(*s);

    int requests = 0, replies = 0;
    for (int i = 0; i < s->PacketCount(); ++i) {
        const PacketRecord& r = s->m_index[i];
        if (r.length != 36 || r.data[9] != 1) continue;
        requests += r.data[20] == ICMP_ECHO;
        replies += r.data[20] == ICMP_ECHOREPLY;
    }
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(replies, 1);
}

TEST(LiveCapture, PacketKilobyteAndTimeLimits)
{
    REQUIRE_CAPTURE();
    auto s = SessionOn("127.0.0.1");
    ASSERT_TRUE(s->m_ready);
    Sink sink;

    s->SetPacketLimit(10);
    Begin(*s);
    testnet::SendUdp("127.0.0.1", sink.port, 30, 50);
    ASSERT_TRUE(WaitFinished(*s));
    EXPECT_EQ(s->PacketCount(), 10);
    EXPECT_FALSE(s->m_stopRequested.load());

    s->SetPacketLimit(8096);
    s->SetKilobyteLimit(1);
    Begin(*s);
    testnet::SendUdp("127.0.0.1", sink.port, 30, 272);  // 300-byte datagrams: 4 reach 1024
    ASSERT_TRUE(WaitFinished(*s));
    EXPECT_EQ(s->PacketCount(), 4);
    EXPECT_EQ(s->m_bytesCaptured, 1200);

    s->SetKilobyteLimit(1024);
    s->SetSecondsLimit(1);
    const double begin = g_stopwatch.Elapsed();
    Begin(*s);
    ASSERT_TRUE(WaitFinished(*s, 5.0));
    EXPECT_GE(g_stopwatch.Elapsed() - begin, 1.0);
    EXPECT_EQ(s->PacketCount(), 0);
}

TEST(LiveCapture, AbortOnAQuietLinkKeepsThePackets)
{
    REQUIRE_CAPTURE();
    auto s = SessionOn("127.0.0.1");
    ASSERT_TRUE(s->m_ready);
    Sink sink;
    Begin(*s);
    testnet::SendUdp("127.0.0.1", sink.port, 3, 20);
    const double until = g_stopwatch.Elapsed() + 5.0;
    while (s->PacketCount() < 3 && g_stopwatch.Elapsed() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    s->m_stopRequested = true;  // the link is quiet now: the capture ends within a receive time-out
    ASSERT_TRUE(WaitFinished(*s, 2.0));
    EXPECT_EQ(s->PacketCount(), 3);
    EXPECT_TRUE(IsUdpTo(s->m_index[2], sink.port));
}

TEST(LiveCapture, ResetDiscardsQueuedDatagramsOfAnySize)
{
    REQUIRE_CAPTURE();
    auto s = SessionOn("127.0.0.1");
    ASSERT_TRUE(s->m_ready);
    Sink sink;
    // Queued while no capture runs: a large datagram and small ones.
    testnet::SendUdp("127.0.0.1", sink.port, 1, 3000, 0x01);
    testnet::SendUdp("127.0.0.1", sink.port, 5, 10, 0x02);
    Begin(*s);
    testnet::SendUdp("127.0.0.1", sink.port, 1, 40, 0x03);
    Abort(*s);
    ASSERT_EQ(s->PacketCount(), 1);
    EXPECT_EQ(s->m_index[0].length, 68);
    EXPECT_EQ(s->m_index[0].data[29], 0x03);
}

TEST(LiveCapture, ResetReturnsPromptlyOnALinkThatNeverGoesQuiet)
{
    REQUIRE_CAPTURE();
    auto s = SessionOn("127.0.0.1");
    ASSERT_TRUE(s->m_ready);
    Sink sink;
    testnet::Flood flood(sink.port, 16);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double begin = g_stopwatch.Elapsed();
    s->Reset();
    const double took = g_stopwatch.Elapsed() - begin;
    flood.Stop();
    EXPECT_LT(took, 1.5);  // the drain is bounded; it never waits for a quiet gap
}

// Under a flood Reset's drain is cut short, leaving datagrams sent before Begin Capture in
// the ring: none of them is stored. Those that arrive while the capture thread starts keep
// their own small times instead of piling up at 0.
TEST(LiveCapture, UnderAFloodNothingSentBeforeStartIsStored)
{
    REQUIRE_CAPTURE();
    auto s = SessionOn("127.0.0.1");
    ASSERT_TRUE(s->m_ready);
    s->SetSecondsLimit(5);
    Sink sink;
    // A socket asking for time stamps makes the kernel stamp each datagram as it is queued,
    // not when a busy softirq gets to it: then a datagram sent before Start is stamped so.
    const int on = 1;
    ASSERT_EQ(setsockopt(sink.fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on), 0);
    testnet::Flood flood(sink.port, 16);
    const double until = g_stopwatch.Elapsed() + 2.0;
    while (flood.Sent() < 20000 && g_stopwatch.Elapsed() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    s->Reset();
    const uint32_t sentBefore = flood.Sent();
    s->Start(&CaptureSession::CaptureThread);
    ASSERT_TRUE(WaitFinished(*s));  // at the packet limit
    flood.Stop();

    int flooded = 0, early = 0, zero = 0;
    for (int i = 0; i < s->PacketCount(); ++i) {
        const PacketRecord& r = s->m_index[i];
        if (!IsUdpTo(r, sink.port) || r.length != 20 + 8 + 16) continue;
        uint32_t sequence;
        std::memcpy(&sequence, r.data + 28, sizeof sequence);
        ++flooded;
        early += sequence < sentBefore ? 1 : 0;
        zero += r.timestamp == 0.0f ? 1 : 0;
    }
    EXPECT_GT(flooded, 1000) << "sent " << flood.Sent() << ", " << sentBefore << " before Start";
    EXPECT_EQ(early, 0) << "of " << flooded;
    EXPECT_LE(zero, 1) << "of " << flooded;
}

TEST(LiveCapture, VethSeesOutgoingAndIncomingOnce)
{
    REQUIRE_CAPTURE();
    testnet::Peer peer;
    ASSERT_TRUE(peer.Start());
    auto s = SessionOn("198.18.0.1");
    ASSERT_TRUE(s->m_ready) << "errors " << s->m_errors;
    Begin(*s);
    ASSERT_EQ(testnet::SendUdp("198.18.0.2", 9001, 5, 16, 0x0F), 5);
    ASSERT_TRUE(peer.SendUdp(5, 9002));
    Abort(*s);

    int out[5] = {}, in[5] = {};
    for (int i = 0; i < s->PacketCount(); ++i) {
        const PacketRecord& r = s->m_index[i];
        if (IsUdpTo(r, 9001) && r.length == 44 && r.data[28] < 5) ++out[r.data[28]];
        if (IsUdpTo(r, 9002) && r.length == 60 && r.data[28] < 5) ++in[r.data[28]];
    }
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(out[i], 1) << "outgoing " << i;
        EXPECT_EQ(in[i], 1) << "incoming " << i;
    }
}

// Ethernet pads a short frame to 60 bytes: a 28-byte datagram in such a frame, sent from
// the far end of a veth pair through a packet socket, is stored with its 28 bytes.
TEST(LiveCapture, LinkPaddingIsNotStored)
{
    REQUIRE_CAPTURE();
    ASSERT_EQ(testnet::Run("ip link add kveth0 type veth peer name kveth1 && ip addr add 198.18.0.1/24 dev kveth0 && "
                           "ip link set kveth0 up && ip link set kveth1 up"),
              0);
    struct RemoveLink {
        ~RemoveLink() { testnet::Run("ip link del kveth0"); }
    } remove;
    auto s = SessionOn("198.18.0.1");
    ASSERT_TRUE(s->m_ready) << "errors " << s->m_errors;
    const int sender = socket(AF_PACKET, SOCK_RAW, 0);
    ASSERT_GE(sender, 0);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = static_cast<int>(if_nametoindex("kveth1"));
    to.sll_halen = 6;
    std::memset(to.sll_addr, 0xFF, 6);
    // Broadcast, EtherType IPv4, a UDP datagram of 28 bytes to 198.18.0.1, then zeros to 60.
    uint8_t frame[60] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0, 0, 0, 0, 1, 0x08, 0x00,
                         0x45, 0, 0, 28, 0, 1, 0, 0, 64, 17, 0, 0, 198, 18, 0, 2, 198, 18, 0, 1,
                         0x23, 0x29, 0x23, 0x2A, 0, 8, 0, 0};
    Begin(*s);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(sendto(sender, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 60);
    close(sender);
    Abort(*s);
    int seen = 0;
    int32_t stored = 0;
    for (int i = 0; i < s->PacketCount(); ++i) {
        const PacketRecord& r = s->m_index[i];
        stored += r.length;
        if (r.length < 24 || r.data[9] != 17 || ((r.data[22] << 8) | r.data[23]) != 9002) continue;
        EXPECT_EQ(r.length, 28);
        EXPECT_EQ(std::memcmp(r.data, frame + 14, 28), 0);
        ++seen;
    }
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(s->m_bytesCaptured, stored) << "the padding was counted";
}

// A link that went down and up while idle leaves an error pending in front of the datagrams
// queued before it; the next capture must still start with none of them.
TEST(LiveCapture, ResetAfterALinkFlapDiscardsTheOldDatagrams)
{
    REQUIRE_CAPTURE();
    testnet::Peer peer;
    ASSERT_TRUE(peer.Start());
    auto s = SessionOn("198.18.0.1");
    ASSERT_TRUE(s->m_ready) << "errors " << s->m_errors;
    ASSERT_EQ(testnet::SendUdp("198.18.0.2", 9001, 50, 16, 0x01), 50);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let ARP resolve and the queue fill
    ASSERT_EQ(testnet::Run("ip link set kveth0 down && ip link set kveth0 up"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    Begin(*s);
    ASSERT_EQ(testnet::SendUdp("198.18.0.2", 9003, 5, 16, 0x02), 5);
    Abort(*s);
    int old = 0, fresh = 0;
    for (int i = 0; i < s->PacketCount(); ++i) {
        old += IsUdpTo(s->m_index[i], 9001) ? 1 : 0;
        fresh += IsUdpTo(s->m_index[i], 9003) ? 1 : 0;
    }
    EXPECT_EQ(old, 0);
    EXPECT_EQ(fresh, 5);
}

TEST(LiveCapture, ResetDrainsAFullRingPromptly)
{
    REQUIRE_CAPTURE();
    auto s = SessionOn("127.0.0.1");
    ASSERT_TRUE(s->m_ready);
    Sink sink;
    // More than the ring holds, while no capture runs.
    ASSERT_EQ(testnet::SendUdp("127.0.0.1", sink.port, 30000, 64, 0x01), 30000);
    const double begin = g_stopwatch.Elapsed();
    s->Reset();
    EXPECT_LT(g_stopwatch.Elapsed() - begin, 1.0);
    s->Start(&CaptureSession::CaptureThread);
    ASSERT_EQ(testnet::SendUdp("127.0.0.1", sink.port, 5, 40, 0x03), 5);
    Abort(*s);
    ASSERT_EQ(s->PacketCount(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(s->m_index[i].length, 68);
        EXPECT_EQ(s->m_index[i].data[28], i);
        EXPECT_EQ(s->m_index[i].data[29], 0x03);
    }
}

double ThreadCpuSeconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A link taken down leaves the capture running, without spinning, and it goes on once the
// link is up. Removing the interface ends the capture and the session, even when an
// interface of the same name and address comes back at once.
TEST(LiveCapture, ALinkDownIdlesAndARemovedInterfaceEndsTheSession)
{
    REQUIRE_CAPTURE();
    testnet::Peer peer;
    ASSERT_TRUE(peer.Start());
    struct RemoveLink {
        ~RemoveLink() { testnet::Run("ip link del kveth0"); }
    } removeLink;
    auto s = SessionOn("198.18.0.1");
    ASSERT_TRUE(s->m_ready) << "errors " << s->m_errors;
    s->SetSecondsLimit(30);
    Begin(*s);
    clockid_t cpu;
    ASSERT_EQ(pthread_getcpuclockid(static_cast<pthread_t>(s->m_thread), &cpu), 0);

    ASSERT_EQ(testnet::Run("ip link set kveth0 down"), 0);
    const double cpuBefore = ThreadCpuSeconds(cpu), wallBefore = g_stopwatch.Elapsed();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double used = ThreadCpuSeconds(cpu) - cpuBefore, wall = g_stopwatch.Elapsed() - wallBefore;
    EXPECT_LT(used, 0.05 * wall) << "processor time of the capture thread while the link is down";
    EXPECT_FALSE(s->m_finished.load());
    ASSERT_EQ(testnet::Run("ip link set kveth0 up"), 0);
    ASSERT_EQ(testnet::SendUdp("198.18.0.2", 9001, 3, 16, 0x0F), 3);
    auto sent = [&] {
        int n = 0;
        for (int i = 0; i < s->PacketCount(); ++i) n += IsUdpTo(s->m_index[i], 9001) ? 1 : 0;
        return n;
    };
    const double until = g_stopwatch.Elapsed() + 5.0;
    while (sent() < 3 && g_stopwatch.Elapsed() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(sent(), 3);
    EXPECT_TRUE(s->m_ready);

    ASSERT_EQ(testnet::Run("ip link del kveth0 && ip link add kveth0 type veth peer name kveth2 && "
                           "ip addr add 198.18.0.1/24 dev kveth0 && ip link set kveth0 up"),
              0);
    ASSERT_TRUE(WaitFinished(*s, 2.0)) << "the capture goes on without its interface";
    EXPECT_EQ(s->m_errors, CAPTURE_ERR_INTERFACE_GONE);
    EXPECT_FALSE(s->m_ready);
    EXPECT_EQ(s->m_socket.m_lastError, ENODEV);
    EXPECT_EQ(sent(), 3);
}

// Holds the capture thread in a signal handler until released (at most 2 s).
std::atomic<bool> g_held = false;
std::atomic<bool> g_release = false;

void HoldThread(int)
{
    g_held = true;
    const timespec step{0, 1000000};
    for (int i = 0; i < 2000 && !g_release; ++i) nanosleep(&step, nullptr);
}

TEST(LiveCapture, TimeStampsAreArrivalTimesNotReadingTimes)
{
    REQUIRE_CAPTURE();
    auto s = SessionOn("127.0.0.1");
    ASSERT_TRUE(s->m_ready);
    Sink sink;
    struct sigaction hold{};
    hold.sa_handler = HoldThread;
    struct sigaction before{};
    ASSERT_EQ(sigaction(SIGUSR1, &hold, &before), 0);
    g_held = false;
    g_release = false;
    Begin(*s);
    ASSERT_EQ(pthread_kill(static_cast<pthread_t>(s->m_thread), SIGUSR1), 0);
    const double until = g_stopwatch.Elapsed() + 2.0;
    while (!g_held && g_stopwatch.Elapsed() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(g_held.load());

    // The reader is held: all five wait in the ring and are read together after the last.
    constexpr int COUNT = 5;
    double sent[COUNT];
    for (int i = 0; i < COUNT; ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_EQ(testnet::SendUdp("127.0.0.1", sink.port, 1, 20, static_cast<unsigned char>(i)), 1);
        sent[i] = g_stopwatch.Elapsed();
    }
    g_release = true;
    Abort(*s);
    sigaction(SIGUSR1, &before, nullptr);

    float stamp[COUNT] = {};
    int seen = 0;
    for (int i = 0; i < s->PacketCount(); ++i) {
        const PacketRecord& r = s->m_index[i];
        if (IsUdpTo(r, sink.port) && seen < COUNT) stamp[seen++] = r.timestamp;
    }
    ASSERT_EQ(seen, COUNT);
    EXPECT_GE(stamp[0], 0.0f);
    for (int i = 1; i < COUNT; ++i)
        EXPECT_NEAR(stamp[i] - stamp[0], sent[i] - sent[0], 0.002) << "datagram " << i;
}

TEST(LiveCapture, LargestDatagramArrivesWhole)
{
    REQUIRE_CAPTURE();
    auto s = SessionOn("127.0.0.1");
    ASSERT_TRUE(s->m_ready);
    Sink sink;
    Begin(*s);
    ASSERT_EQ(testnet::SendUdp("127.0.0.1", sink.port, 1, 65507, 0x77), 1);
    Abort(*s);
    ASSERT_EQ(s->PacketCount(), 1);
    const PacketRecord& r = s->m_index[0];
    ASSERT_EQ(r.length, 65535);
    EXPECT_EQ((r.data[2] << 8) | r.data[3], 65535);
    EXPECT_EQ(r.data[28], 0);
    EXPECT_EQ(r.data[29], 0x77);
    EXPECT_EQ(r.data[65534], 0x77);
}

// Leaves only CAP_NET_RAW, effective and permitted, as an unprivileged user.
bool KeepOnlyNetRaw()
{
    if (prctl(PR_SET_KEEPCAPS, 1) != 0 || setgid(65534) != 0 || setuid(65534) != 0) return false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    data[0].effective = data[0].permitted = 1u << CAP_NET_RAW;
    return syscall(SYS_capset, &header, data) == 0;
}

TEST(LiveCaptureSetup, CapturesWithOnlyNetRaw)
{
    REQUIRE_CAPTURE();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!KeepOnlyNetRaw()) _exit(3);
        int big = 1 << 20;  // CAP_NET_ADMIN is gone
        const int probe = socket(AF_INET, SOCK_DGRAM, 0);
        if (setsockopt(probe, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) == 0) _exit(4);
        close(probe);
        auto s = SessionOn("127.0.0.1");
        if (!s->m_ready) _exit(5);
        Sink sink;
        Begin(*s);
        testnet::SendUdp("127.0.0.1", sink.port, 1, 30, 0x42);
        const double until = g_stopwatch.Elapsed() + 2.0;
        while (s->PacketCount() < 1 && g_stopwatch.Elapsed() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        s->m_stopRequested = true;
        if (!WaitFinished(*s, 2.0)) _exit(6);
        const bool captured = s->PacketCount() == 1 && IsUdpTo(s->m_index[0], sink.port) && s->m_index[0].length == 58;
        _exit(captured ? 0 : 7);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3 capset, 4 CAP_NET_ADMIN kept, 5 not ready, 6 no end, 7 not captured";
}

TEST(LiveCaptureSetup, AddressNoInterfaceHoldsFailsToBind)
{
    REQUIRE_CAPTURE();
    auto s = SessionOn("198.18.99.99");
    EXPECT_FALSE(s->m_ready);
    EXPECT_EQ(s->m_errors & 0x0Cu, 0x0Cu);
    EXPECT_EQ(s->m_socket.m_lastError, EADDRNOTAVAIL);

    HostAddress unresolved;
    EXPECT_FALSE(unresolved.Resolve("no-such-host.invalid", 5000));
    CaptureSession t(unresolved, 1024, 8096);
    EXPECT_FALSE(t.m_ready);
    EXPECT_EQ(t.m_errors & 0x0Cu, 0x0Cu);
}

TEST(LiveCaptureSetup, WithoutPrivilegeNothingOpens)
{
    // Run unprivileged: in a child that gives up root when we have it.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        HostAddress address;
        address.Resolve("127.0.0.1", 5000);
        CaptureSession s(address, 1024, 8096);
        _exit(s.m_errors == 0x2F && !s.m_ready && !s.m_socket.IsOpen() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace kestrine
