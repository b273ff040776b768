// Linux realisation of the raw socket: a packet socket of type SOCK_DGRAM, which hands over
// each frame without its link header, so every receive starts at the IP header. Frames
// arrive in a memory-mapped receive ring (TPACKET_V3), not in the socket's queue.
#include "capture/raw_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <linux/if_packet.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "capture/ring_frame_linux.h"

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

// The ring: 32 blocks of 128 KiB, 4 MiB in all. A block holds a whole 64 KiB datagram
// with its headers (96 bytes of frame header in front of each datagram); 4 MiB keeps about
// 21,000 UDP datagrams with 64-byte payloads, and needs no capability beyond CAP_NET_RAW
// (net.core.rmem_max limits the socket queue, not a ring). The kernel hands over a partly
// filled block after RETIRE_MS, so a quiet link still delivers within a few ms.
constexpr unsigned BLOCK_BYTES = 128 << 10;
constexpr unsigned BLOCK_COUNT = 32;
constexpr size_t RING_BYTES = static_cast<size_t>(BLOCK_BYTES) * BLOCK_COUNT;
constexpr unsigned FRAME_BYTES = 2048;  // only sets the kernel's frame count; frames vary in size
constexpr unsigned RETIRE_MS = 4;

tpacket_block_desc* BlockAt(uint8_t* ring, unsigned block)
{
    return reinterpret_cast<tpacket_block_desc*>(ring + static_cast<size_t>(block) * BLOCK_BYTES);
}

// The block's owner, read and written with ordering against the frames it holds.
bool OwnedByUser(const tpacket_block_desc* block)
{
    return (__atomic_load_n(&block->hdr.bh1.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) != 0;
}

double MonotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

// The receive ring: mapped by Create, unmapped by Close.
struct RawSocket::Platform {
    bool MapRing(int handle);
    void UnmapRing();
    // Hands the block being read back to the kernel and moves on to the next.
    void ReleaseBlock();
    // Waits up to timeoutMs for the block read next to be handed over: SOCKET_OK when it
    // was, else what Receive returns (with *lastError set).
    int WaitForBlock(int handle, int timeoutMs, int32_t* lastError);

    uint8_t* m_ring = nullptr;
    unsigned m_block = 0;         // block read next, or being read
    size_t m_frameOffset = 0;     // next frame in that block, from the block's start
    uint32_t m_framesLeft = 0;    // frames of that block not yet handed over; 0: not open
};

RawSocket::RawSocket() : m_platform(std::make_unique<Platform>()) {}

RawSocket::~RawSocket() { Close(); }

// The datagram starts tp_mac bytes into its frame, after the header, and is tp_snaplen
// bytes long; tp_len is its length on the wire, which the kernel never puts below tp_snaplen.
// With tp_snaplen <= tp_len, a datagram whose tp_len fits the room is copied whole within it.
RingFrame CheckRingFrame(const uint8_t* block, size_t blockBytes, size_t offset, size_t room)
{
    if (offset > blockBytes || blockBytes - offset < sizeof(tpacket3_hdr)) return RingFrame::Outside;
    tpacket3_hdr frame;
    std::memcpy(&frame, block + offset, sizeof frame);
    const uint64_t end = static_cast<uint64_t>(offset) + frame.tp_mac + frame.tp_snaplen;  // no overflow
    if (frame.tp_mac < sizeof frame || end > blockBytes || frame.tp_snaplen > frame.tp_len) return RingFrame::Malformed;
    if (frame.tp_len > room) return RingFrame::TooLarge;
    if (frame.tp_snaplen < frame.tp_len) return RingFrame::CutShort;
    return RingFrame::Whole;
}

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
    // The ring is mapped here too, before Bind: the unbound socket has nothing to put in it.
    sock_fprog program{static_cast<unsigned short>(sizeof IPV4_ONCE / sizeof IPV4_ONCE[0]), IPV4_ONCE};
    if (setsockopt(m_handle, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 || !m_platform->MapRing(m_handle)) {
        m_lastError = errno;
        m_platform->UnmapRing();
        close(m_handle);
        m_handle = INVALID_SOCKET_HANDLE;
        return SOCKET_CREATE_FAILED;
    }
    return SOCKET_OK;
}

bool RawSocket::Platform::MapRing(int handle)
{
    const int version = TPACKET_V3;
    if (setsockopt(handle, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0) return false;
    tpacket_req3 request{};
    request.tp_block_size = BLOCK_BYTES;
    request.tp_block_nr = BLOCK_COUNT;
    request.tp_frame_size = FRAME_BYTES;
    request.tp_frame_nr = BLOCK_BYTES / FRAME_BYTES * BLOCK_COUNT;
    request.tp_retire_blk_tov = RETIRE_MS;
    if (setsockopt(handle, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0) return false;
    void* ring = mmap(nullptr, RING_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, handle, 0);
    if (ring == MAP_FAILED) return false;
    m_ring = static_cast<uint8_t*>(ring);
    m_block = 0;
    m_frameOffset = 0;
    m_framesLeft = 0;
    return true;
}

void RawSocket::Platform::UnmapRing()
{
    if (m_ring) munmap(m_ring, RING_BYTES);
    m_ring = nullptr;
    m_frameOffset = 0;
    m_framesLeft = 0;
}

void RawSocket::Platform::ReleaseBlock()
{
    __atomic_store_n(&BlockAt(m_ring, m_block)->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
    m_block = (m_block + 1) % BLOCK_COUNT;
    m_frameOffset = 0;
    m_framesLeft = 0;
}

namespace {

// Pending socket error (a link that went down): cleared, and its code, or 0.
int TakePendingError(int handle)
{
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
    return error;
}

// Removing the interface unbinds the socket: the kernel sets its interface index to -1, and
// an interface that comes back, even under the same name and address, is a new one.
bool BoundInterfaceGone(int handle)
{
    sockaddr_ll bound{};
    socklen_t size = sizeof bound;
    if (getsockname(handle, reinterpret_cast<sockaddr*>(&bound), &size) != 0) return errno == EBADF;
    return bound.sll_ifindex <= 0;
}

}  // namespace

int RawSocket::Platform::WaitForBlock(int handle, int timeoutMs, int32_t* lastError)
{
    const tpacket_block_desc* block = BlockAt(m_ring, m_block);
    const double deadline = MonotonicSeconds() + timeoutMs * 1e-3;
    int error = EAGAIN;
    for (;;) {
        const double left = deadline - MonotonicSeconds();
        pollfd p{handle, POLLIN, 0};
        const int ready = poll(&p, 1, left > 0 ? static_cast<int>(std::ceil(left * 1000)) : 0);
        if (OwnedByUser(block)) return SOCKET_OK;
        if (ready < 0) {
            *lastError = errno;
            return RECEIVE_NOTHING;
        }
        if (ready == 0) break;
        if (p.revents & (POLLHUP | POLLNVAL)) {
            *lastError = ENODEV;
            return RECEIVE_GONE;
        }
        if (!(p.revents & POLLERR)) break;  // readable, yet nothing handed over: as a time-out
        // A link that went down (ENETDOWN): the error is cleared, or poll never waits again,
        // and the wait goes on, so a link that stays down costs no processor time.
        error = TakePendingError(handle);
        if (error == ENODEV || error == ENXIO) {
            *lastError = error;
            return RECEIVE_GONE;
        }
        if (left <= 0) break;
    }
    // An interface removed while its link was down reports nothing more: every quiet wait
    // looks for it. Frames the kernel still holds in its open block come first (it hands
    // the block over within RETIRE_MS).
    if (__atomic_load_n(&block->hdr.bh1.num_pkts, __ATOMIC_ACQUIRE) == 0 && BoundInterfaceGone(handle)) {
        *lastError = ENODEV;
        return RECEIVE_GONE;
    }
    *lastError = error;
    return RECEIVE_NOTHING;
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

// Receive waits with poll; the socket option is set as well so the socket says what it does.
int RawSocket::SetReceiveTimeout(int milliseconds)
{
    const int result = SetTimeout(m_handle, SO_RCVTIMEO, milliseconds);
    if (result == SOCKET_OK) m_receiveTimeoutMs = milliseconds;
    return result;
}

int RawSocket::SetSendTimeout(int milliseconds) { return SetTimeout(m_handle, SO_SNDTIMEO, milliseconds); }

// A packet socket always delivers the IP header; the option only has to exist on an open socket.
int RawSocket::SetHeaderIncluded() { return IsOpen() ? SOCKET_OK : SOCKET_REFUSED; }

// Frames go to the ring, not to this queue; kept harmless (no CAP_NET_ADMIN variant).
int RawSocket::SetReceiveBufferSize(int bytes) { return SetSocketOption(SO_RCVBUF, bytes); }

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
    Platform& ring = *m_platform;
    m_lastStampNs = NO_STAMP;
    if (!ring.m_ring) {
        m_lastError = EBADF;
        return RECEIVE_NOTHING;
    }
    auto* const block = BlockAt(ring.m_ring, ring.m_block);
    if (ring.m_framesLeft == 0) {
        if (!OwnedByUser(block)) {
            const int waited = ring.WaitForBlock(m_handle, m_receiveTimeoutMs, &m_lastError);
            if (waited != SOCKET_OK) return waited;
        }
        ring.m_framesLeft = block->hdr.bh1.num_pkts;
        ring.m_frameOffset = block->hdr.bh1.offset_to_first_pkt;
        if (ring.m_framesLeft == 0) {  // nothing in it: hand it back and wait again next time
            ring.ReleaseBlock();
            m_lastError = EAGAIN;
            return RECEIVE_NOTHING;
        }
    }

    const uint8_t* const base = reinterpret_cast<const uint8_t*>(block);
    const RingFrame check = CheckRingFrame(base, BLOCK_BYTES, ring.m_frameOffset, static_cast<size_t>(std::max(length, 0)));
    if (check == RingFrame::Outside) {  // the rest of the block cannot be found: hand it back
        ring.ReleaseBlock();
        m_lastError = EBADMSG;
        return RECEIVE_NOTHING;
    }
    const auto* frame = reinterpret_cast<const tpacket3_hdr*>(base + ring.m_frameOffset);
    int result = RECEIVE_NOTHING;
    switch (check) {
    case RingFrame::Whole:
        std::memcpy(buffer, base + ring.m_frameOffset + frame->tp_mac, frame->tp_snaplen);
        m_lastStampNs = static_cast<int64_t>(frame->tp_sec) * 1000000000 + frame->tp_nsec;
        result = static_cast<int>(frame->tp_snaplen);
        break;
    case RingFrame::TooLarge:
        m_lastError = EMSGSIZE;
        result = RECEIVE_TOO_LARGE;
        break;
    case RingFrame::CutShort:  // the filter's accept length or the block cut it: lost
        m_lastError = EMSGSIZE;
        break;
    default:
        m_lastError = EBADMSG;
        break;
    }
    // Only the block's last frame has no next one.
    ring.m_frameOffset += frame->tp_next_offset;
    if (--ring.m_framesLeft == 0 || frame->tp_next_offset == 0) ring.ReleaseBlock();
    return result;
}

void RawSocket::Drain()
{
    Platform& ring = *m_platform;
    // Hands every filled block back, the one being read included, bounded so a link that
    // never goes quiet cannot hold the caller. The kernel's open block counts as queued
    // too: its frames are waited for (it is handed over within RETIRE_MS) and released.
    // A pending error (a link that went down and up, ENETDOWN) is cleared and the drain
    // goes on: the frames from before it must go too. The socket's own queue stays empty
    // with a ring; it is read once anyway.
    constexpr int MAX_DATAGRAMS = 200000;
    constexpr double MAX_SECONDS = 0.25;
    constexpr int OPEN_BLOCK_WAIT_MS = 2 * RETIRE_MS + 10;
    if (!IsOpen() || !ring.m_ring) return;
    uint8_t scratch[1];
    while (recv(m_handle, scratch, sizeof scratch, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
    }
    const double deadline = MonotonicSeconds() + MAX_SECONDS;
    int released = 0;
    while (released < MAX_DATAGRAMS && MonotonicSeconds() < deadline) {
        pollfd p{m_handle, POLLIN, 0};
        if (poll(&p, 1, 0) > 0 && (p.revents & POLLERR)) m_lastError = TakePendingError(m_handle);
        tpacket_block_desc* block = BlockAt(ring.m_ring, ring.m_block);
        if (OwnedByUser(block)) {
            released += static_cast<int>(ring.m_framesLeft > 0 ? ring.m_framesLeft : block->hdr.bh1.num_pkts);
            ring.ReleaseBlock();
            continue;
        }
        // The kernel counts frames into its open block as they come.
        if (__atomic_load_n(&block->hdr.bh1.num_pkts, __ATOMIC_ACQUIRE) == 0) return;
        p = {m_handle, POLLIN, 0};
        poll(&p, 1, OPEN_BLOCK_WAIT_MS);
        if (!OwnedByUser(block) && !(p.revents & POLLERR)) return;  // not handed over in time
    }
}

// The socket's own test with its last instruction, the return that keeps the frame, taken
// out: a kept frame falls through into the expression's program, which has its own returns.
int RawSocket::AttachFilter(const BpfInstruction* program, size_t count)
{
    if (!IsOpen()) return SOCKET_REFUSED;
    constexpr size_t own = sizeof IPV4_ONCE / sizeof IPV4_ONCE[0];
    if (count > BPF_MAXINSNS) return SOCKET_REFUSED;
    std::vector<sock_filter> code;
    if (count == 0) {
        code.assign(IPV4_ONCE, IPV4_ONCE + own);
    } else {
        code = {
            BPF_STMT(BPF_LD | BPF_H | BPF_ABS, static_cast<uint32_t>(SKF_AD_OFF + SKF_AD_PROTOCOL)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 1, 0),
            BPF_STMT(BPF_RET | BPF_K, 0),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<uint32_t>(SKF_AD_OFF + SKF_AD_PKTTYPE)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OUTGOING, 0, 3),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<uint32_t>(SKF_AD_OFF + SKF_AD_HATYPE)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ARPHRD_LOOPBACK, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, 0),
        };
        for (size_t i = 0; i < count; ++i) code.push_back({program[i].code, program[i].jt, program[i].jf, program[i].k});
    }
    if (code.size() > BPF_MAXINSNS) return SOCKET_REFUSED;
    const sock_fprog attached{static_cast<unsigned short>(code.size()), code.data()};
    if (setsockopt(m_handle, SOL_SOCKET, SO_ATTACH_FILTER, &attached, sizeof attached) != 0) {
        m_lastError = errno;
        return SOCKET_REFUSED;
    }
    return SOCKET_OK;
}

int RawSocket::Close()
{
    if (!IsOpen()) return 0;
    // A packet socket has no send direction to shut down; draining and closing is all.
    Drain();
    m_platform->UnmapRing();
    if (close(m_handle) != 0) m_lastError = errno;
    m_handle = INVALID_SOCKET_HANDLE;
    return 0;
}

}  // namespace kestrine
