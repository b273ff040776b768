// Thin wrapper over the one raw socket of a capture session: create, options, bind,
// receive-all, receive, drain, close. Results are codes, never exceptions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "capture/host_address.h"
#include "filter/bpf.h"
// The platform's socket handle: SocketHandle and INVALID_SOCKET_HANDLE.
#ifdef _WIN32
#include "capture/socket_handle_win.h"
#else
#include "capture/socket_handle_linux.h"
#endif

namespace kestrine {

inline constexpr int SOCKET_OK = 1;
inline constexpr int SOCKET_CREATE_FAILED = 3;
inline constexpr int SOCKET_BIND_FAILED = 4;
inline constexpr int SOCKET_REFUSED = -1;
// RawSocket::m_lastStampNs when the platform gives no arrival time.
inline constexpr int64_t NO_STAMP = -1;

// Results of RawSocket::Receive other than a datagram's length.
inline constexpr int RECEIVE_NOTHING = -1;    // time-out, or a datagram lost to an error
inline constexpr int RECEIVE_TOO_LARGE = -2;  // the next datagram is longer than the room given; it is lost
inline constexpr int RECEIVE_GONE = -3;       // the bound interface no longer exists: nothing more will come

class RawSocket {
public:
    RawSocket();
    ~RawSocket();
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    // A socket that delivers every IPv4 datagram of the interface it is bound to, whole,
    // IP header first, incoming and outgoing, once, one per receive. 1 or 3.
    int Create(int type, int protocol);
    // 4-byte integer option at socket level. 1 or -1.
    int SetSocketOption(int name, int value);
    int SetReceiveTimeout(int milliseconds);
    int SetSendTimeout(int milliseconds);
    int SetHeaderIncluded();
    // Kernel receive queue size (on Linux the ring takes the queue's place: it matters on Windows).
    int SetReceiveBufferSize(int bytes);
    // Binds to the interface holding the address; on failure the socket is closed. 1 or 4.
    int Bind(const HostAddress& address);
    // Receive-all mode on the bound interface. 1 or -1.
    int ReceiveAll();
    // One datagram into buffer: its length, or RECEIVE_NOTHING after the receive time-out or
    // an error (a link that is down included: the time-out is waited out), RECEIVE_TOO_LARGE
    // for a datagram longer than length (lost; nothing is written past length), RECEIVE_GONE
    // once the bound interface has been removed. Sets m_lastStampNs and, unless a datagram
    // came, m_lastError.
    int Receive(uint8_t* buffer, int length);
    // Has the kernel run program (classic BPF over the datagram, IP header first) on each
    // datagram before it is queued, after the socket's own test; count 0 removes it. 1, or -1
    // where the platform has no such filter or refuses the program (the caller runs it).
    int AttachFilter(const BpfInstruction* program, size_t count);
    // Discards what is queued now, without waiting for a quiet gap.
    void Drain();
    int Close();

    bool IsOpen() const { return m_handle != INVALID_SOCKET_HANDLE; }

    SocketHandle m_handle = INVALID_SOCKET_HANDLE;
    int32_t m_lastError = 0;
    HostAddress m_address;
    // Kernel arrival time of the datagram the last Receive handed over, in nanoseconds since
    // 1970 on the real-time clock; NO_STAMP when there is none.
    int64_t m_lastStampNs = NO_STAMP;

private:
    // The platform's own state (on Linux the receive ring), defined in the platform's file.
    struct Platform;

    int m_receiveTimeoutMs = 0;  // as last set: the longest a receive waits
    std::unique_ptr<Platform> m_platform;
};

}  // namespace kestrine
