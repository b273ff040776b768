// Windows realisation of the raw socket: a raw IPv4 socket bound to the interface address
// and switched to receive-all mode.
#include <winsock2.h>
#include <mstcpip.h>
#include <ws2tcpip.h>

#include "capture/raw_socket.h"

namespace kestrine {

namespace {
SOCKET Handle(SocketHandle h) { return static_cast<SOCKET>(h); }
}  // namespace

// The socket's handle is all a Windows socket needs.
struct RawSocket::Platform {};

RawSocket::RawSocket() = default;

RawSocket::~RawSocket() { Close(); }

int RawSocket::Create(int type, int protocol)
{
    const SOCKET s = WSASocketA(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s == INVALID_SOCKET) {
        m_lastError = WSAGetLastError();
        m_handle = INVALID_SOCKET_HANDLE;
        return SOCKET_CREATE_FAILED;
    }
    m_handle = static_cast<SocketHandle>(s);
    return SOCKET_OK;
}

int RawSocket::SetSocketOption(int name, int value)
{
    if (setsockopt(Handle(m_handle), SOL_SOCKET, name, reinterpret_cast<const char*>(&value), 4) == SOCKET_ERROR) {
        WSAGetLastError();
        return SOCKET_REFUSED;
    }
    return SOCKET_OK;
}

int RawSocket::SetReceiveTimeout(int milliseconds)
{
    const int result = SetSocketOption(SO_RCVTIMEO, milliseconds);
    if (result == SOCKET_OK) m_receiveTimeoutMs = milliseconds;
    return result;
}

int RawSocket::SetSendTimeout(int milliseconds) { return SetSocketOption(SO_SNDTIMEO, milliseconds); }

int RawSocket::SetHeaderIncluded()
{
    const int on = 1;
    if (setsockopt(Handle(m_handle), IPPROTO_IP, IP_HDRINCL, reinterpret_cast<const char*>(&on), 4) == SOCKET_ERROR) {
        WSAGetLastError();
        return SOCKET_REFUSED;
    }
    return SOCKET_OK;
}

int RawSocket::SetReceiveBufferSize(int bytes) { return SetSocketOption(SO_RCVBUF, bytes); }

int RawSocket::Bind(const HostAddress& address)
{
    m_address = address;
    if (bind(Handle(m_handle), reinterpret_cast<const sockaddr*>(&m_address.m_sockaddr), 16) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        Close();
        m_lastError = error;
        return SOCKET_BIND_FAILED;
    }
    return SOCKET_OK;
}

int RawSocket::ReceiveAll()
{
    DWORD on = RCVALL_ON, returned = 0;
    if (WSAIoctl(Handle(m_handle), SIO_RCVALL, &on, sizeof on, nullptr, 0, &returned, nullptr, nullptr) ==
        SOCKET_ERROR) {
        WSAGetLastError();
        return SOCKET_REFUSED;
    }
    return SOCKET_OK;
}

// What a failed receive means:
// - WSAETIMEDOUT: nothing came within the receive time-out.
// - WSAEMSGSIZE: the datagram was longer than the room; the rest of it is lost.
// - WSAEADDRNOTAVAIL, WSAENETRESET: the interface is gone. The address the socket is bound
//   to was removed (adapter removed or disabled, address released), and the stack ends
//   what is bound to it; the socket does not receive again, even should the address return.
// - Anything else, WSAENETDOWN for a link that is down among them: the capture goes on. The
//   rest of the time-out is waited out first, so an error that recurs at once on every
//   receive cannot spin the capture thread; datagrams wait in the kernel queue meanwhile.
int RawSocket::Receive(uint8_t* buffer, int length)
{
    const int n = recv(Handle(m_handle), reinterpret_cast<char*>(buffer), length, 0);
    if (n != SOCKET_ERROR) return n;
    m_lastError = WSAGetLastError();
    switch (m_lastError) {
    case WSAETIMEDOUT: return RECEIVE_NOTHING;
    case WSAEMSGSIZE: return RECEIVE_TOO_LARGE;
    case WSAEADDRNOTAVAIL:
    case WSAENETRESET: return RECEIVE_GONE;
    default: Sleep(static_cast<DWORD>(m_receiveTimeoutMs)); return RECEIVE_NOTHING;
    }
}

void RawSocket::Drain()
{
    // Takes only what is queued now: a zero-time readiness check before each read, bounded
    // in count, so a link that never goes quiet cannot hold the caller. A datagram longer
    // than the scratch buffer is read, cut and discarded as well, and a failed read (such as
    // an error left pending by a link that went down and up) does not end the drain.
    constexpr int MAX_DATAGRAMS = 200000;
    char scratch[2048];
    for (int i = 0; i < MAX_DATAGRAMS; ++i) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(Handle(m_handle), &readable);
        timeval now{0, 0};
        if (select(0, &readable, nullptr, nullptr, &now) <= 0) return;
        if (recv(Handle(m_handle), scratch, sizeof scratch, 0) == SOCKET_ERROR) {
            m_lastError = WSAGetLastError();
            if (m_lastError == WSAEWOULDBLOCK) return;
        }
    }
}

// Winsock's raw sockets have no kernel filter: the capture thread runs the program.
int RawSocket::AttachFilter(const BpfInstruction*, size_t) { return SOCKET_REFUSED; }

int RawSocket::Close()
{
    if (!IsOpen()) return 0;
    if (shutdown(Handle(m_handle), SD_SEND) == SOCKET_ERROR) m_lastError = WSAGetLastError();
    Drain();
    if (closesocket(Handle(m_handle)) == SOCKET_ERROR) m_lastError = WSAGetLastError();
    m_handle = INVALID_SOCKET_HANDLE;
    return 0;
}

}  // namespace kestrine
