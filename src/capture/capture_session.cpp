// Capture session: set-up, limits, reset, the capture loop and destruction.
#include "capture/capture_session.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "capture/stopwatch.h"
#include "common/packet_cursor.h"

namespace kestrine {

CaptureSession::CaptureSession(const HostAddress& address, uint32_t bufferKilobytes, uint32_t indexEntries)
{
    const uint32_t kilobytes = std::clamp<uint32_t>(bufferKilobytes, 1, MAX_BUFFER_KILOBYTES);
    const uint32_t entries = std::clamp<uint32_t>(indexEntries, MIN_INDEX_ENTRIES, MAX_INDEX_ENTRIES);

    m_indexCapacity = static_cast<int32_t>(entries);
    m_index = new (std::nothrow) PacketRecord[entries];
    if (!m_index) m_errors |= CAPTURE_ERR_MEMORY;

    m_bufferSize = static_cast<int32_t>(kilobytes * 1024);
    m_buffer = new (std::nothrow) uint8_t[static_cast<size_t>(m_bufferSize)];
    if (!m_buffer) m_errors |= CAPTURE_ERR_MEMORY;

    SetKilobyteLimit(static_cast<int>(kilobytes));
    SetPacketLimit(static_cast<int>(entries));
    SetSecondsLimit(100);

    // Every step runs even after a failed one; a step on a closed socket fails and sets its bit.
    if (m_socket.Create(SOCK_RAW, 0) != SOCKET_OK) m_errors |= CAPTURE_ERR_SOCKET;
    if (m_socket.SetReceiveTimeout(RECEIVE_TIMEOUT_MS) != SOCKET_OK) m_errors |= CAPTURE_ERR_RCVTIMEO;
    m_socket.SetSendTimeout(RECEIVE_TIMEOUT_MS);
#ifdef _WIN32
    m_socket.SetReceiveBufferSize(KERNEL_QUEUE_BYTES);  // best effort: a small queue only loses bursts
#endif
    // On Linux the socket's ring holds the bursts; it needs no capability beyond opening the socket.
    if (m_socket.SetHeaderIncluded() != SOCKET_OK) m_errors |= CAPTURE_ERR_HDRINCL;
    if (m_socket.Bind(address) != SOCKET_OK) m_errors |= CAPTURE_ERR_BIND;
    if (m_socket.ReceiveAll() != SOCKET_OK) m_errors |= CAPTURE_ERR_RCVALL;

    m_ready = m_errors == 0;
}

CaptureSession::~CaptureSession()
{
    if (!m_finished.load(std::memory_order_acquire)) {
        m_stopRequested.store(true, std::memory_order_relaxed);
        const double deadline = g_stopwatch.Elapsed() + 5.0;
        while (!m_finished.load(std::memory_order_acquire) && g_stopwatch.Elapsed() < deadline) {
        }
    }
    // The thread writes into the index and the buffer: never free them under it, however
    // long it takes to end.
    Join();
    delete[] m_index;
    delete[] m_buffer;
    m_index = nullptr;
    m_buffer = nullptr;
    m_socket.Close();
}

int CaptureSession::SetSecondsLimit(int seconds)
{
    m_secondsLimit = std::max(seconds, 1);
    return m_secondsLimit;
}

int CaptureSession::SetPacketLimit(int packets)
{
    m_packetLimit = std::clamp(packets, 1, m_indexCapacity);
    return m_packetLimit;
}

int CaptureSession::SetKilobyteLimit(int kilobytes)
{
    m_kilobyteLimit = std::clamp(kilobytes, 1, std::max(m_bufferSize / 1024, 1));
    return m_kilobyteLimit;
}

void CaptureSession::Reset()
{
    // A new capture starts without a stop request: an Abort pressed after the last capture
    // had already ended by a limit must not end the next one at its first datagram.
    m_stopRequested.store(false, std::memory_order_relaxed);
    m_socket.Drain();
    if (m_index) std::fill_n(m_index, m_indexCapacity, PacketRecord{});
    if (m_buffer) std::memset(m_buffer, 0, static_cast<size_t>(m_bufferSize));
    m_bytesCaptured = 0;
    m_packetCount.store(0, std::memory_order_release);
}

namespace {

// The address word at offset as it lies in the datagram (network order); bytes that were
// not received read as zero.
uint32_t AddressWord(const PacketCursor& datagram, int offset)
{
    if (datagram.Has(offset, 4)) return htonl(datagram.Be32(offset));
    uint8_t octets[4] = {};
    for (int i = 0; i < 4; ++i)
        if (datagram.Has(offset + i)) octets[i] = datagram.U8(offset + i);
    uint32_t word;
    std::memcpy(&word, octets, sizeof word);
    return word;
}

}  // namespace

// Protocol switch by byte 9, then the filter on the address words at bytes 12..19.
// A datagram too short to hold them (the kernel can pass a truncated IPv4 frame) is read
// only as far as it goes: without byte 9 it counts as protocol "other", and missing address
// bytes read as zero, so it counts as from and to 0.0.0.0 (a mask-0 rule matches it, any
// other rule does not).
bool CaptureSession::KeepsDatagram(const uint8_t* data, int length) const
{
    const PacketCursor datagram(data, length);
    const int protocol = datagram.Has(9) ? datagram.U8(9) : -1;
    bool keep;
    switch (protocol) {
    case 1: keep = m_keepIcmp; break;
    case 2: keep = m_keepIgmp; break;
    case 6: keep = m_keepTcp; break;
    case 17: keep = m_keepUdp; break;
    default: keep = m_keepOther; break;
    }
    if (!keep || !m_filterEnabled) return keep;
    return m_filter.Keeps(AddressWord(datagram, 12), AddressWord(datagram, 16));
}

void CaptureSession::CaptureThread(void* session)
{
    static_cast<CaptureSession*>(static_cast<WorkerThread*>(session))->Capture();
}

void CaptureSession::Capture()
{
    m_finished.store(false, std::memory_order_release);
    // Held in double: the stopwatch counts from process start, and a float start would
    // quantise every time stamp to milliseconds after a day of uptime. The wall clock is
    // read right after it: that pair is the one offset between the socket's arrival times
    // (real-time clock, as system_clock) and the stopwatch for the whole capture.
    const double start = g_stopwatch.Elapsed();
    m_startWallClockNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    double previous = 0.0;  // time stamps start at 0 and never go back
    // A capture goes on from the records already stored (none after Reset), so entries
    // stay back to back and a new datagram never overwrites bytes an older entry points to.
    uint8_t* w = m_buffer ? m_buffer + m_bytesCaptured : nullptr;
    int32_t remaining = m_buffer ? m_bufferSize - m_bytesCaptured : 0;
    PacketRecord* const index = m_index;
    const int64_t byteLimit = static_cast<int64_t>(m_kilobyteLimit) * 1024;
    int32_t count = m_packetCount.load(std::memory_order_relaxed);

    do {
        const int n = m_socket.Receive(w, remaining);
        const double now = g_stopwatch.Elapsed() - start;
        if (static_cast<float>(m_secondsLimit) <= static_cast<float>(now))
            m_stopRequested.store(true, std::memory_order_relaxed);
        if (n <= 0 || !index || !KeepsDatagram(w, n)) continue;
        // The kernel's arrival time when there is one, else the moment of reading; never
        // later than the reading (a stepped wall clock), never before the one before.
        double arrival = now;
        if (m_socket.m_lastStampNs != NO_STAMP)
            arrival = std::min(now, static_cast<double>(m_socket.m_lastStampNs - m_startWallClockNs) * 1e-9);
        previous = std::max(arrival, previous);
        const float t = static_cast<float>(previous);
        if (count >= m_indexCapacity) {  // index full (Start without Reset): store nothing more
            m_stopRequested.store(true, std::memory_order_relaxed);
            continue;
        }

        index[count] = PacketRecord{w, n, t};
        m_bytesCaptured += n;
        w += n;
        remaining -= n;
        ++count;
        m_packetCount.store(count, std::memory_order_release);  // publishes the entry above
        if (m_bytesCaptured >= byteLimit || count >= m_packetLimit) m_stopRequested.store(true, std::memory_order_relaxed);
    } while (!m_stopRequested.load(std::memory_order_relaxed));

    // Clear the stop request first, so a new capture never sees a stale one.
    m_stopRequested.store(false, std::memory_order_relaxed);
    m_finished.store(true, std::memory_order_release);
}

}  // namespace kestrine
