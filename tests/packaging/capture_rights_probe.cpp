// Opens a capture session on loopback with whatever rights the process holds, sends itself
// one UDP datagram and reports each step on one line:
//   session=ready|errors:0xNN promisc=on|off rcvbufforce=granted|refused received=yes|no
// Exit status 0 when the session is ready, the interface is promiscuous and the datagram
// was captured; 1 otherwise.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "capture/capture_session.h"

using namespace kestrine;

namespace {

// The interface's promiscuity count (ip -d link): packet-socket memberships raise it, while
// the IFF_PROMISC flag the ioctl reports shows only the administrator's setting.
bool Promiscuous(int packetSocket)
{
    sockaddr_ll bound{};
    socklen_t size = sizeof bound;
    char name[IF_NAMESIZE] = {};
    if (getsockname(packetSocket, reinterpret_cast<sockaddr*>(&bound), &size) != 0 ||
        !if_indextoname(static_cast<unsigned>(bound.sll_ifindex), name))
        return false;
    const std::string command = std::string("ip -d link show dev ") + name;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    char line[512];
    int count = 0;
    while (std::fgets(line, sizeof line, pipe)) {
        const char* at = std::strstr(line, " promiscuity ");
        if (at) count = std::atoi(at + 13);
    }
    pclose(pipe);
    return count > 0;
}

// The session's own set-up tries this first and falls back to SO_RCVBUF when refused.
bool ForcedBufferAllowed(int packetSocket)
{
    int bytes = 1 << 20;
    return setsockopt(packetSocket, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0;
}

// Sends one marked UDP datagram to a bound loopback port and waits up to a second for it.
bool CapturesOwnDatagram(CaptureSession& session)
{
    const int receiver = socket(AF_INET, SOCK_DGRAM, 0);
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof to;
    static const char MARK[] = "kestrine-capture-rights";
    bool seen = receiver >= 0 && sender >= 0 && bind(receiver, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
                getsockname(receiver, reinterpret_cast<sockaddr*>(&to), &size) == 0 &&
                sendto(sender, MARK, sizeof MARK, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == sizeof MARK;
    if (seen) {
        seen = false;
        uint8_t datagram[2048];
        for (int i = 0; i < 100 && !seen; ++i) {  // 10 ms receive time-out each
            const int n = session.m_socket.Receive(datagram, sizeof datagram);
            seen = n >= 28 + static_cast<int>(sizeof MARK) && std::memcmp(datagram + 28, MARK, sizeof MARK) == 0;
        }
    }
    if (receiver >= 0) close(receiver);
    if (sender >= 0) close(sender);
    return seen;
}

}  // namespace

int main()
{
    HostAddress loopback;
    if (!loopback.FromInteger(INADDR_LOOPBACK, 0)) {
        std::puts("session=no-address");
        return 1;
    }
    CaptureSession session(loopback, 64, CaptureSession::MIN_INDEX_ENTRIES);
    const int handle = session.m_socket.m_handle;
    const bool promisc = session.m_ready && Promiscuous(handle);
    const bool forced = session.m_ready && ForcedBufferAllowed(handle);
    const bool received = session.m_ready && CapturesOwnDatagram(session);
    if (session.m_ready)
        std::printf("session=ready");
    else
        std::printf("session=errors:0x%02x", session.m_errors.load());
    std::printf(" promisc=%s rcvbufforce=%s received=%s\n", promisc ? "on" : "off", forced ? "granted" : "refused",
                received ? "yes" : "no");
    return session.m_ready && promisc && received ? 0 : 1;
}
