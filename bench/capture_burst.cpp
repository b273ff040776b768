// Capture of a loopback burst by a CaptureSession compared with tcpdump on the same burst,
// in a private network namespace. Prints counts, loss, the session/tcpdump ratio and the
// capture thread's CPU time per datagram. Needs root; bounded in count and time.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "capture/capture_session.h"
#include "capture/stopwatch.h"
#include "tests/support/netns.h"

using namespace kestrine;

namespace {

double CpuSeconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct SessionResult {
    int captured = 0;
    double cpuPerDatagram = 0;
};

SessionResult CaptureWithSession(int count, int payload, int port)
{
    HostAddress address;
    address.Resolve("127.0.0.1", 5000);
    CaptureSession session(address, 1024, 8096);
    SessionResult result;
    if (!session.m_ready) {
        std::fprintf(stderr, "session not ready (errors 0x%x)\n", session.m_errors);
        return result;
    }
    session.SetKilobyteLimit(1024);
    session.SetPacketLimit(8096);
    session.SetSecondsLimit(100);
    session.Reset();

    session.Start(&CaptureSession::CaptureThread);
    clockid_t captureClock{};
    pthread_getcpuclockid(static_cast<pthread_t>(session.m_thread), &captureClock);
    const double captureBefore = CpuSeconds(captureClock);
    testnet::SendUdp("127.0.0.1", port, count, payload);
    // Wait until the count stops growing (or 5 s), then abort.
    int last = -1;
    const double until = g_stopwatch.Elapsed() + 5.0;
    while (g_stopwatch.Elapsed() < until && !session.m_finished.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int now = session.PacketCount();
        if (now == last) break;
        last = now;
    }
    // The capture thread's own CPU clock, read while it still runs.
    const double captureCpu = CpuSeconds(captureClock) - captureBefore;
    session.m_stopRequested = true;
    while (!session.m_finished.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    for (int i = 0; i < session.PacketCount(); ++i) {
        const PacketRecord& r = session.m_index[i];
        if (r.length >= 28 && r.data[9] == 17 && ((r.data[22] << 8) | r.data[23]) == port) ++result.captured;
    }
    result.cpuPerDatagram = result.captured ? captureCpu / result.captured : 0;
    return result;
}

// -1 when tcpdump is not installed or did not start.
int CaptureWithTcpdump(int count, int payload, int port)
{
    if (access("/usr/bin/tcpdump", X_OK) != 0 && access("/usr/sbin/tcpdump", X_OK) != 0) return -1;
    int err[2];
    if (pipe(err) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(err[1], 2);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        const std::string filter = "udp port " + std::to_string(port);
        execlp("tcpdump", "tcpdump", "-i", "lo", "-Q", "in", "-n", "-B", "8192", "-w", "/dev/null",
               filter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(err[1]);
    std::string text;
    char chunk[512];
    // tcpdump says "listening on" once it captures.
    const double until = g_stopwatch.Elapsed() + 5.0;
    while (text.find("listening on") == std::string::npos && g_stopwatch.Elapsed() < until) {
        pollfd p{err[0], POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            const ssize_t n = read(err[0], chunk, sizeof chunk);
            if (n <= 0) break;
            text.append(chunk, static_cast<size_t>(n));
        }
    }
    if (text.find("listening on") == std::string::npos) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        close(err[0]);
        return -1;
    }
    testnet::SendUdp("127.0.0.1", port, count, payload);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGINT);
    ssize_t n;
    while ((n = read(err[0], chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
    waitpid(pid, nullptr, 0);
    close(err[0]);
    const size_t at = text.find(" packets captured");
    if (at == std::string::npos) return -1;
    size_t start = text.rfind('\n', at);
    start = start == std::string::npos ? 0 : start + 1;
    return std::atoi(text.c_str() + start);
}

}  // namespace

int main()
{
    if (!testnet::EnterPrivateNamespace()) {
        std::printf("capture_burst: %s\n", testnet::WhyNot());
        return 0;
    }
    int port = 0;
    const int sink = testnet::BindLoopbackUdp(&port);
    int big = 64 << 20;
    setsockopt(sink, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big);

    std::printf("%-8s %6s %8s %8s %7s %7s %7s %10s\n", "payload", "sent", "session", "tcpdump", "loss%",
                "tdloss%", "ratio", "cpu/dgram");
    const struct {
        int payload, count;
    } bursts[] = {{64, 8096}, {1400, 700}};
    for (const auto& b : bursts) {
        const SessionResult s = CaptureWithSession(b.count, b.payload, port);
        const int t = CaptureWithTcpdump(b.count, b.payload, port);
        const double loss = 100.0 * (b.count - s.captured) / b.count;
        char tdLoss[16] = "n/a", ratio[16] = "n/a", tdCount[16] = "n/a";
        if (t >= 0) {
            std::snprintf(tdCount, sizeof tdCount, "%d", t);
            std::snprintf(tdLoss, sizeof tdLoss, "%.2f", 100.0 * (b.count - t) / b.count);
            if (t > 0) std::snprintf(ratio, sizeof ratio, "%.3f", static_cast<double>(s.captured) / t);
        }
        std::printf("%-8d %6d %8d %8s %7.2f %7s %7s %8.2fus\n", b.payload, b.count, s.captured, tdCount, loss, tdLoss,
                    ratio, s.cpuPerDatagram * 1e6);
    }
    close(sink);
    return 0;
}
