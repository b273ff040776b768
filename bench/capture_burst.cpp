// Capture of loopback bursts by a CaptureSession and by tcpdump, in a private network
// namespace: counts, loss and CPU per datagram for both, with the reader running ("live")
// and with the reader stopped while the whole burst is sent ("paused"), which shows how much
// the kernel side holds on its own. Needs root; bounded in count and time.
//
// Both columns count what was really captured: tcpdump's "received by filter" is read
// (SIGUSR1) until it stops changing and at least 1.5 s after the burst, so its last ring
// block has been handed over; the session's capture thread is read while it still runs.
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
#include <fstream>
#include <string>
#include <thread>

#include "capture/capture_session.h"
#include "capture/stopwatch.h"
#include "tests/support/netns.h"

using namespace kestrine;

namespace {

constexpr double PEER_SETTLE_SECONDS = 1.5;

struct Result {
    int captured = -1;  // -1: not measured
    double cpuPerDatagram = 0;
};

double CpuSeconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void Sleep(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

bool WriteAll(int fd, const void* data, size_t size) { return write(fd, data, size) == static_cast<ssize_t>(size); }
bool ReadAll(int fd, void* data, size_t size) { return read(fd, data, size) == static_cast<ssize_t>(size); }

// Runs a session on 127.0.0.1 in a child process, so the reader can be stopped with
// SIGSTOP as a whole. The child reports "ready" once capturing, and on request the number of
// the burst's datagrams it stored and its capture thread's CPU time since it became ready.
class SessionChild {
public:
    bool Start(int port)
    {
        int down[2], up[2];
        if (pipe(down) != 0 || pipe(up) != 0) return false;
        m_pid = fork();
        if (m_pid == 0) {
            close(down[1]);
            close(up[0]);
            Run(down[0], up[1], port);
            _exit(0);
        }
        close(down[0]);
        close(up[1]);
        m_toChild = down[1];
        m_fromChild = up[0];
        char ready = 0;
        return ReadAll(m_fromChild, &ready, 1) && ready == 'r';
    }
    void Pause() { kill(m_pid, SIGSTOP); }
    void Resume() { kill(m_pid, SIGCONT); }
    // Waits until the count has settled (at most 10 s), then collects the result.
    Result Finish()
    {
        Result result;
        const char order = 'f';
        if (WriteAll(m_toChild, &order, 1)) {
            ReadAll(m_fromChild, &result.captured, sizeof result.captured);
            ReadAll(m_fromChild, &result.cpuPerDatagram, sizeof result.cpuPerDatagram);
        }
        waitpid(m_pid, nullptr, 0);
        close(m_toChild);
        close(m_fromChild);
        return result;
    }

private:
    static void Run(int orders, int reports, int port)
    {
        HostAddress address;
        address.Resolve("127.0.0.1", 5000);
        // More index entries than any burst, so no limit ends the thread before it is measured.
        CaptureSession session(address, 2048, 8192);
        session.SetKilobyteLimit(2048);
        session.SetPacketLimit(8192);
        session.SetSecondsLimit(100);
        session.Reset();
        session.Start(&CaptureSession::CaptureThread);
        clockid_t clock{};
        pthread_getcpuclockid(static_cast<pthread_t>(session.m_thread), &clock);
        const double before = CpuSeconds(clock);
        const char ready = session.m_ready ? 'r' : 'x';
        WriteAll(reports, &ready, 1);
        char order = 0;
        ReadAll(orders, &order, 1);
        // Until the count has stopped growing for 200 ms (at most 10 s).
        for (int last = -1, i = 0; i < 50; ++i) {
            Sleep(200);
            const int now = session.PacketCount();
            if (now == last) break;
            last = now;
        }
        const double cpu = CpuSeconds(clock) - before;
        session.m_stopRequested = true;
        while (!session.m_finished.load()) Sleep(1);
        int captured = 0;
        for (int i = 0; i < session.PacketCount(); ++i) {
            const PacketRecord& r = session.m_index[i];
            if (r.length >= 28 && r.data[9] == 17 && ((r.data[22] << 8) | r.data[23]) == port) ++captured;
        }
        const double perDatagram = captured ? cpu / captured : 0;
        WriteAll(reports, &captured, sizeof captured);
        WriteAll(reports, &perDatagram, sizeof perDatagram);
    }

    pid_t m_pid = -1;
    int m_toChild = -1;
    int m_fromChild = -1;
};

// tcpdump on lo, writing to /dev/null. Its counts are read from its statistics lines.
class Peer {
public:
    bool Start(int port)
    {
        if (access("/usr/bin/tcpdump", X_OK) != 0 && access("/usr/sbin/tcpdump", X_OK) != 0) return false;
        int err[2];
        if (pipe(err) != 0) return false;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(err[1], 2);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            const std::string filter = "udp port " + std::to_string(port);
            execlp("tcpdump", "tcpdump", "-i", "lo", "-Q", "in", "-n", "-B", "8192", "-w", "/dev/null",
                   filter.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(err[1]);
        m_err = err[0];
        const double until = g_stopwatch.Elapsed() + 5.0;
        while (m_text.find("listening on") == std::string::npos && g_stopwatch.Elapsed() < until) ReadSome(100);
        if (m_text.find("listening on") == std::string::npos) {
            Kill();
            return false;
        }
        m_runBefore = RunNanoseconds();
        return true;
    }
    void Pause() { kill(m_pid, SIGSTOP); }
    void Resume() { kill(m_pid, SIGCONT); }
    // Reads "received by filter" until it stops changing, at least PEER_SETTLE_SECONDS after
    // the burst; then ends tcpdump and takes its final "packets captured".
    Result Finish(int count)
    {
        const double notBefore = g_stopwatch.Elapsed() + PEER_SETTLE_SECONDS;
        long last = -1;
        for (int i = 0; i < 50; ++i) {
            kill(m_pid, SIGUSR1);
            Sleep(200);
            ReadSome(0);
            const long now = LastNumberBefore(" packets received by filter");
            if (now == last && g_stopwatch.Elapsed() >= notBefore) break;
            last = now;
        }
        const double run = static_cast<double>(RunNanoseconds() - m_runBefore) * 1e-9;
        kill(m_pid, SIGINT);
        while (ReadSome(1000)) {
        }
        waitpid(m_pid, nullptr, 0);
        close(m_err);
        Result result;
        result.captured = static_cast<int>(LastNumberBefore(" packets captured"));
        if (result.captured > count) result.captured = count;  // stray datagrams to the port
        result.cpuPerDatagram = result.captured > 0 ? run / result.captured : 0;
        return result;
    }

private:
    bool ReadSome(int timeoutMs)
    {
        pollfd p{m_err, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        char chunk[512];
        const ssize_t n = read(m_err, chunk, sizeof chunk);
        if (n <= 0) return false;
        m_text.append(chunk, static_cast<size_t>(n));
        return true;
    }
    long LastNumberBefore(const char* phrase) const
    {
        const size_t at = m_text.rfind(phrase);
        if (at == std::string::npos) return -1;
        size_t start = at;
        while (start > 0 && m_text[start - 1] >= '0' && m_text[start - 1] <= '9') --start;
        return std::atol(m_text.c_str() + start);
    }
    // Run time of the process on the CPU so far (first field of its schedstat).
    long long RunNanoseconds() const
    {
        std::ifstream stat("/proc/" + std::to_string(m_pid) + "/schedstat");
        long long run = 0;
        stat >> run;
        return run;
    }
    void Kill()
    {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        close(m_err);
    }

    pid_t m_pid = -1;
    int m_err = -1;
    std::string m_text;
    long long m_runBefore = 0;
};

void PrintRow(const char* mode, int payload, int count, const Result& s, const Result& t)
{
    const auto loss = [count](const Result& r) { return 100.0 * (count - r.captured) / count; };
    char peer[16] = "n/a", peerLoss[16] = "n/a", peerCpu[16] = "n/a", ratio[16] = "n/a";
    if (t.captured >= 0) {
        std::snprintf(peer, sizeof peer, "%d", t.captured);
        std::snprintf(peerLoss, sizeof peerLoss, "%.2f", loss(t));
        std::snprintf(peerCpu, sizeof peerCpu, "%.2fus", t.cpuPerDatagram * 1e6);
        if (t.cpuPerDatagram > 0) std::snprintf(ratio, sizeof ratio, "%.2f", s.cpuPerDatagram / t.cpuPerDatagram);
    }
    std::printf("%-7s %7d %6d %8d %8s %7.2f %7s %10.2fus %10s %7s\n", mode, payload, count, s.captured, peer, loss(s),
                peerLoss, s.cpuPerDatagram * 1e6, peerCpu, ratio);
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

    std::printf("%-7s %7s %6s %8s %8s %7s %7s %12s %10s %7s\n", "mode", "payload", "sent", "session", "tcpdump",
                "loss%", "tdloss%", "cpu/dgram", "td cpu", "cpu s/t");
    const struct {
        int payload, count;
    } bursts[] = {{64, 8096}, {1400, 700}};
    for (const bool paused : {false, true}) {
        for (const auto& b : bursts) {
            Result s, t;
            SessionChild session;
            if (session.Start(port)) {
                if (paused) session.Pause();
                testnet::SendUdp("127.0.0.1", port, b.count, b.payload);
                if (paused) session.Resume();
                s = session.Finish();
            }
            Peer peer;
            if (peer.Start(port)) {
                if (paused) peer.Pause();
                testnet::SendUdp("127.0.0.1", port, b.count, b.payload);
                if (paused) peer.Resume();
                t = peer.Finish(b.count);
            }
            PrintRow(paused ? "paused" : "live", b.payload, b.count, s, t);
        }
    }
    close(sink);
    return 0;
}
