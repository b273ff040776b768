// RawSocket replaced for the capture-loop tests; see scripted_socket.h.
#include "tests/capture/scripted_socket.h"

#include <errno.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "capture/raw_socket.h"

namespace kestrine {

namespace {
struct Scripted {
    std::vector<uint8_t> datagram;
    int64_t stampNs = NO_STAMP;
};

std::mutex g_lock;
std::deque<Scripted> g_queue;
script::Failures g_failures;
std::vector<int> g_rooms;
int g_drains = 0;
}  // namespace

namespace script {

void Reset(Failures failures)
{
    std::lock_guard lock(g_lock);
    g_queue.clear();
    g_rooms.clear();
    g_drains = 0;
    g_failures = failures;
}

void Push(std::vector<uint8_t> datagram)
{
    std::lock_guard lock(g_lock);
    g_queue.push_back({std::move(datagram), NO_STAMP});
}

void PushStamped(std::vector<uint8_t> datagram, int64_t stampNs)
{
    std::lock_guard lock(g_lock);
    g_queue.push_back({std::move(datagram), stampNs});
}

std::vector<int> ReceiveRooms()
{
    std::lock_guard lock(g_lock);
    return g_rooms;
}

int DrainCalls()
{
    std::lock_guard lock(g_lock);
    return g_drains;
}

std::vector<uint8_t> Datagram(uint8_t protocol, uint32_t source, uint32_t destination, int size, uint8_t fill)
{
    std::vector<uint8_t> d(static_cast<size_t>(size), fill);
    if (size >= 20) {
        d[0] = 0x45;
        d[9] = protocol;
        for (int i = 0; i < 4; ++i) {
            d[12 + i] = static_cast<uint8_t>(source >> (24 - 8 * i));
            d[16 + i] = static_cast<uint8_t>(destination >> (24 - 8 * i));
        }
    }
    return d;
}

}  // namespace script

// The script holds everything the scripted socket needs.
struct RawSocket::Platform {};

RawSocket::RawSocket() = default;

RawSocket::~RawSocket() { Close(); }

int RawSocket::Create(int, int)
{
    std::lock_guard lock(g_lock);
    if (g_failures.create) {
        m_lastError = EPERM;
        return SOCKET_CREATE_FAILED;
    }
    m_handle = 1000;
    return SOCKET_OK;
}

int RawSocket::SetSocketOption(int, int) { return IsOpen() ? SOCKET_OK : SOCKET_REFUSED; }

int RawSocket::SetReceiveTimeout(int)
{
    std::lock_guard lock(g_lock);
    return IsOpen() && !g_failures.receiveTimeout ? SOCKET_OK : SOCKET_REFUSED;
}

int RawSocket::SetSendTimeout(int) { return IsOpen() ? SOCKET_OK : SOCKET_REFUSED; }
int RawSocket::SetHeaderIncluded() { return IsOpen() ? SOCKET_OK : SOCKET_REFUSED; }
int RawSocket::SetReceiveBufferSize(int) { return IsOpen() ? SOCKET_OK : SOCKET_REFUSED; }

int RawSocket::Bind(const HostAddress& address)
{
    m_address = address;
    bool fail;
    {
        std::lock_guard lock(g_lock);
        fail = g_failures.bind || !IsOpen();
    }
    if (fail) {
        m_lastError = EADDRNOTAVAIL;
        Close();
        return SOCKET_BIND_FAILED;
    }
    return SOCKET_OK;
}

int RawSocket::ReceiveAll()
{
    std::lock_guard lock(g_lock);
    return IsOpen() && !g_failures.receiveAll ? SOCKET_OK : SOCKET_REFUSED;
}

int RawSocket::Receive(uint8_t* buffer, int length)
{
    Scripted next;
    m_lastStampNs = NO_STAMP;
    {
        std::lock_guard lock(g_lock);
        g_rooms.push_back(length);
        if (!g_queue.empty()) {
            next = std::move(g_queue.front());
            g_queue.pop_front();
        }
    }
    if (next.datagram.empty()) {  // quiet network: the receive times out
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        m_lastError = EAGAIN;
        return RECEIVE_NOTHING;
    }
    if (static_cast<int>(next.datagram.size()) > length) {  // does not fit: lost, nothing written
        m_lastError = EMSGSIZE;
        return RECEIVE_TOO_LARGE;
    }
    std::memcpy(buffer, next.datagram.data(), next.datagram.size());
    m_lastStampNs = next.stampNs;
    return static_cast<int>(next.datagram.size());
}

void RawSocket::Drain()
{
    std::lock_guard lock(g_lock);
    ++g_drains;
    g_queue.clear();
}

// As on Windows: the capture thread runs the filter.
int RawSocket::AttachFilter(const BpfInstruction*, size_t) { return SOCKET_REFUSED; }

int RawSocket::Close()
{
    if (!IsOpen()) return 0;
    Drain();
    m_handle = INVALID_SOCKET_HANDLE;
    return 0;
}

}  // namespace kestrine
