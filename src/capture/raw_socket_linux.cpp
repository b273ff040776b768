// Linux realisation of the raw socket: a packet socket of type SOCK_DGRAM, which hands over
// each frame without its link header, so every receive starts at the IP header.
#include "capture/raw_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace kestrine {

namespace {

// Classic BPF: keep IPv4 frames only, and on a loopback device drop the outgoing copy,
// since every datagram sent there is seen again arriving.
constexpr uint32_t ACCEPT = 0x40000;  // keep up to 256 KiB of the frame, i.e. all of it
sock_filter IPV4_ONCE[] = {
    BPF_STMT(BPF_LD | BPF_H | BPF_ABS, static_cast<uint32_t>(SKF_AD_OFF + SKF_AD_PROTOCOL)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 0, 5),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<uint32_t>(SKF_AD_OFF + SKF_AD_PKTTYPE)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OUTGOING, 0, 2),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<uint32_t>(SKF_AD_OFF + SKF_AD_HATYPE)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ARPHRD_LOOPBACK, 1, 0),
    BPF_STMT(BPF_RET | BPF_K, ACCEPT),
    BPF_STMT(BPF_RET | BPF_K, 0),
};

// Index of the interface that holds the IPv4 address (network order); any 127/8 address
// means the loopback interface. 0 when no interface holds it.
unsigned InterfaceHolding(in_addr_t address)
{
    const bool loopback = (ntohl(address) >> 24) == 127;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    unsigned index = 0;
    for (ifaddrs* it = list; it && index == 0; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
        const bool match = loopback ? (it->ifa_flags & IFF_LOOPBACK) != 0
                                    : reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr == address;
        if (match) index = if_nametoindex(it->ifa_name);
    }
    freeifaddrs(list);
    return index;
}

double MonotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int RawSocket::Create(int /*type*/, int /*protocol*/)
{
    // Protocol 0: the socket receives nothing until Bind names the protocol and interface,
    // so no frame of another interface is queued before the filter and binding are in place.
    m_handle = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_handle < 0) {
        m_lastError = errno;
        m_handle = INVALID_SOCKET_HANDLE;
        return SOCKET_CREATE_FAILED;
    }
    sock_fprog program{static_cast<unsigned short>(sizeof IPV4_ONCE / sizeof IPV4_ONCE[0]), IPV4_ONCE};
    if (setsockopt(m_handle, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0) {
        m_lastError = errno;
        close(m_handle);
        m_handle = INVALID_SOCKET_HANDLE;
        return SOCKET_CREATE_FAILED;
    }
    return SOCKET_OK;
}

int RawSocket::SetSocketOption(int name, int value)
{
    return setsockopt(m_handle, SOL_SOCKET, name, &value, sizeof value) == 0 ? SOCKET_OK : SOCKET_REFUSED;
}

namespace {
int SetTimeout(int handle, int option, int milliseconds)
{
    timeval tv{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return setsockopt(handle, SOL_SOCKET, option, &tv, sizeof tv) == 0 ? SOCKET_OK : SOCKET_REFUSED;
}
}  // namespace

int RawSocket::SetReceiveTimeout(int milliseconds) { return SetTimeout(m_handle, SO_RCVTIMEO, milliseconds); }

int RawSocket::SetSendTimeout(int milliseconds) { return SetTimeout(m_handle, SO_SNDTIMEO, milliseconds); }

// A packet socket always delivers the IP header; the option only has to exist on an open socket.
int RawSocket::SetHeaderIncluded() { return IsOpen() ? SOCKET_OK : SOCKET_REFUSED; }

int RawSocket::SetReceiveBufferSize(int bytes)
{
    // The forced variant ignores net.core.rmem_max but needs CAP_NET_ADMIN.
    if (setsockopt(m_handle, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0) return SOCKET_OK;
    return SetSocketOption(SO_RCVBUF, bytes);
}

int RawSocket::Bind(const HostAddress& address)
{
    m_address = address;
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ALL);
    int result = -1;
    if (m_address.m_sockaddr.sin_family != AF_INET) {
        errno = EAFNOSUPPORT;
    } else if ((link.sll_ifindex = static_cast<int>(InterfaceHolding(m_address.m_sockaddr.sin_addr.s_addr))) == 0) {
        errno = EADDRNOTAVAIL;
    } else {
        result = bind(m_handle, reinterpret_cast<sockaddr*>(&link), sizeof link);
    }
    if (result != 0) {
        const int error = errno;
        Close();
        m_lastError = error;  // the bind's error, not the drain's
        return SOCKET_BIND_FAILED;
    }
    return SOCKET_OK;
}

int RawSocket::ReceiveAll()
{
    sockaddr_ll bound{};
    socklen_t size = sizeof bound;
    if (!IsOpen() || getsockname(m_handle, reinterpret_cast<sockaddr*>(&bound), &size) != 0) return SOCKET_REFUSED;
    packet_mreq membership{};
    membership.mr_ifindex = bound.sll_ifindex;
    membership.mr_type = PACKET_MR_PROMISC;
    return setsockopt(m_handle, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &membership, sizeof membership) == 0
               ? SOCKET_OK
               : SOCKET_REFUSED;
}

int RawSocket::Receive(uint8_t* buffer, int length)
{
    const ssize_t n = recv(m_handle, buffer, static_cast<size_t>(length), MSG_TRUNC);
    if (n < 0) {
        m_lastError = errno;
        return -1;
    }
    if (n > length) {  // MSG_TRUNC reports the real size: the datagram did not fit and is lost
        m_lastError = EMSGSIZE;
        return -1;
    }
    return static_cast<int>(n);
}

void RawSocket::Drain()
{
    // Reads without blocking until the queue is empty, bounded so a link that never goes
    // quiet cannot hold the caller. MSG_TRUNC discards datagrams of any size. Only "nothing
    // queued" ends it early: a link that went down and up leaves an error pending (ENETDOWN)
    // in front of the datagrams queued before, and those must go too.
    constexpr int MAX_DATAGRAMS = 200000;
    constexpr double MAX_SECONDS = 0.25;
    if (!IsOpen()) return;
    uint8_t scratch[2048];
    const double deadline = MonotonicSeconds() + MAX_SECONDS;
    for (int i = 0; i < MAX_DATAGRAMS; ++i) {
        if (recv(m_handle, scratch, sizeof scratch, MSG_DONTWAIT | MSG_TRUNC) < 0) {
            m_lastError = errno;
            if (m_lastError == EAGAIN || m_lastError == EWOULDBLOCK) return;
        }
        if ((i & 255) == 255 && MonotonicSeconds() >= deadline) return;
    }
}

int RawSocket::Close()
{
    if (!IsOpen()) return 0;
    // A packet socket has no send direction to shut down; draining and closing is all.
    Drain();
    if (close(m_handle) != 0) m_lastError = errno;
    m_handle = INVALID_SOCKET_HANDLE;
    return 0;
}

}  // namespace kestrine
