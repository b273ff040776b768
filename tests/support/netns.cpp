// See netns.h.
#include "tests/support/netns.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kestrine::testnet {

namespace {
const char* g_whyNot = "";

bool BringLoopbackUp()
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return false;
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    bool ok = ioctl(s, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    ok = ok && ioctl(s, SIOCSIFFLAGS, &request) == 0;
    close(s);
    return ok;
}

bool WriteByte(int fd, char c) { return write(fd, &c, 1) == 1; }
bool ReadByte(int fd)
{
    char c;
    return read(fd, &c, 1) == 1;
}
}  // namespace

bool EnterPrivateNamespace()
{
    static int state = 0;  // 0 not tried, 1 in, -1 impossible
    if (state != 0) return state > 0;
    state = -1;
    if (geteuid() != 0) {
        g_whyNot = "capturing needs root (CAP_NET_RAW and a private network namespace); skipped";
    } else if (unshare(CLONE_NEWNET) != 0) {
        g_whyNot = "cannot create a network namespace (unshare CLONE_NEWNET failed); skipped";
    } else if (!BringLoopbackUp()) {
        g_whyNot = "cannot bring up lo in the private namespace; skipped";
    } else {
        state = 1;
    }
    return state > 0;
}

const char* WhyNot() { return g_whyNot; }

int Run(const std::string& command)
{
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {
// A socket of the given type bound to 127.0.0.1 on a free port.
int BindLoopback(int type, int* port)
{
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    *port = ntohs(a.sin_port);
    return fd;
}
}  // namespace

int BindLoopbackUdp(int* port) { return BindLoopback(SOCK_DGRAM, port); }

int ConnectLoopbackTcp(int* listener)
{
    int port = 0;
    *listener = BindLoopback(SOCK_STREAM, &port);
    listen(*listener, 1);
    const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(client);
        return -1;
    }
    return client;
}

int SendUdp(const char* address, int port, int count, int payloadSize, unsigned char fill)
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return 0;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &to.sin_addr);
    std::vector<unsigned char> payload(static_cast<size_t>(payloadSize), fill);
    int sent = 0;
    for (int i = 0; i < count; ++i) {
        if (!payload.empty()) payload[0] = static_cast<unsigned char>(i);
        if (sendto(s, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
            static_cast<ssize_t>(payload.size()))
            ++sent;
    }
    close(s);
    return sent;
}

Flood::Flood(int port, int payloadSize, uint32_t maxCount, double maxSeconds)
{
    m_thread = std::thread([this, port, payloadSize, maxCount, maxSeconds] {
        const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::vector<unsigned char> payload(static_cast<size_t>(std::max(payloadSize, 4)), 0x5A);
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(maxSeconds);
        for (uint32_t i = 0; s >= 0 && i < maxCount && !m_stop.load(std::memory_order_relaxed); ++i) {
            if (i % 1024 == 0 && std::chrono::steady_clock::now() > until) break;
            std::memcpy(payload.data(), &i, sizeof i);
            sendto(s, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            m_sent.store(i + 1, std::memory_order_release);
        }
        if (s >= 0) close(s);
    });
}

void Flood::Stop()
{
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

bool Peer::Start(const char* ours, const char* theirs)
{
    int down[2], up[2];
    if (pipe(down) != 0 || pipe(up) != 0) return false;
    m_pid = fork();
    if (m_pid < 0) return false;
    if (m_pid == 0) {
        close(down[1]);
        close(up[0]);
        if (unshare(CLONE_NEWNET) != 0 || !BringLoopbackUp()) _exit(2);
        WriteByte(up[1], 'n');  // namespace ready: the parent moves the veth end in
        if (!ReadByte(down[0])) _exit(3);
        std::string link = theirs;
        if (Run("ip addr add 198.18.0.2/24 dev " + link) != 0 || Run("ip link set " + link + " up") != 0) _exit(4);
        WriteByte(up[1], 'c');
        char order[8] = {};
        if (read(down[0], order, sizeof order) <= 0) _exit(0);
        const int count = order[0], port = 9000 + order[1];
        testnet::SendUdp("198.18.0.1", port, count, 32, 0x77);
        _exit(0);
    }
    close(down[0]);
    close(up[1]);
    m_toChild = down[1];
    m_fromChild = up[0];
    if (!ReadByte(m_fromChild)) return false;
    const std::string o = ours, t = theirs;
    if (Run("ip link add " + o + " type veth peer name " + t) != 0) return false;
    if (Run("ip link set " + t + " netns " + std::to_string(m_pid)) != 0) return false;
    if (Run("ip addr add 198.18.0.1/24 dev " + o) != 0 || Run("ip link set " + o + " up") != 0) return false;
    WriteByte(m_toChild, 'g');
    return ReadByte(m_fromChild);
}

bool Peer::SendUdp(int count, int port)
{
    const char order[2] = {static_cast<char>(count), static_cast<char>(port - 9000)};
    if (write(m_toChild, order, sizeof order) != 2) return false;
    int status = 0;
    const bool ok = waitpid(m_pid, &status, 0) == m_pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    m_pid = -1;
    return ok;
}

Peer::~Peer()
{
    if (m_toChild >= 0) close(m_toChild);
    if (m_fromChild >= 0) close(m_fromChild);
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

}  // namespace kestrine::testnet
