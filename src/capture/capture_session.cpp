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
#include <cmath>
#include <cstring>
#include <new>

#include "capture/stopwatch.h"
#include "common/ip_datagram_length.h"
#include "common/ip_protocols.h"
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
    m_socket.SetReceiveBufferSize(KERNEL_QUEUE_BYTES);  // best effort: a small queue only loses bursts
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

bool CaptureSession::SetCaptureFilter(const std::vector<BpfInstruction>& program, bool inKernel)
{
    m_filterInKernel =
        inKernel && !program.empty() && m_socket.AttachFilter(program.data(), program.size()) == SOCKET_OK;
    if (!m_filterInKernel) m_socket.AttachFilter(nullptr, 0);
    m_captureFilter = m_filterInKernel ? std::vector<BpfInstruction>{} : program;
    m_socket.Drain();
    return m_filterInKernel;
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
    case IP_PROTOCOL_ICMP: keep = m_keepIcmp; break;
    case IP_PROTOCOL_IGMP: keep = m_keepIgmp; break;
    case IP_PROTOCOL_TCP: keep = m_keepTcp; break;
    case IP_PROTOCOL_UDP: keep = m_keepUdp; break;
    default: keep = m_keepOther; break;
    }
    if (!keep) return false;
    if (m_filterEnabled && !m_filter.Keeps(AddressWord(datagram, 12), AddressWord(datagram, 16))) return false;
    // The capture filter, when the kernel does not run it for us.
    return m_captureFilter.empty() ||
           RunBpf(m_captureFilter.data(), m_captureFilter.size(), data, static_cast<uint32_t>(length)) != 0;
}

void CaptureSession::CaptureThread(void* session)
{
    static_cast<CaptureSession*>(static_cast<WorkerThread*>(session))->Capture();
}

// Held in double: the stopwatch counts from process start, and a float start would quantise
// every time stamp to milliseconds after a day of uptime. The wall clock is read right after
// it: that pair is the one offset between the socket's arrival times (real-time clock, as
// system_clock) and the stopwatch for the whole capture. Taken here, on Begin Capture, not
// when the new thread first runs: datagrams that arrive while it starts keep their times.
void CaptureSession::Starting()
{
    m_startSeconds = g_stopwatch.Elapsed();
    m_startWallClockNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
}

void CaptureSession::Capture()
{
    m_finished.store(false, std::memory_order_release);
    const double start = m_startSeconds;
    const int64_t startNs = m_startWallClockNs;
    double previous = 0.0;  // time stamps start at 0 and never go back
    // A capture goes on from the records already stored (none after Reset), so entries
    // stay back to back and a new datagram never overwrites bytes an older entry points to.
    uint8_t* w = m_buffer ? m_buffer + m_bytesCaptured : nullptr;
    int32_t remaining = m_buffer ? m_bufferSize - m_bytesCaptured : 0;
    PacketRecord* const index = m_index;
    const int64_t byteLimit = static_cast<int64_t>(m_kilobyteLimit) * 1024;
    int32_t count = m_packetCount.load(std::memory_order_relaxed);

    do {
        int n = m_socket.Receive(w, remaining);
        const double now = g_stopwatch.Elapsed() - start;
        if (static_cast<float>(m_secondsLimit) <= static_cast<float>(now))
            m_stopRequested.store(true, std::memory_order_relaxed);
        if (n == RECEIVE_TOO_LARGE) {  // no room for it: the buffer is full, as at the kilobyte limit
            m_stopRequested.store(true, std::memory_order_relaxed);
            continue;
        }
        if (n == RECEIVE_GONE) {  // published with m_finished below
            m_errors.fetch_or(CAPTURE_ERR_INTERFACE_GONE, std::memory_order_relaxed);
            m_ready.store(false, std::memory_order_relaxed);
            m_stopRequested.store(true, std::memory_order_relaxed);
            continue;
        }
        if (n <= 0 || !index) continue;
        // The datagram, without the padding of a short link frame after it.
        n = static_cast<int>(IpDatagramLength(w, static_cast<uint32_t>(n)));
        // The kernel's arrival time when there is one: a datagram from before the capture
        // began (left in the socket by a drain that a flood cut short) is not stored.
        const int64_t stampNs = m_socket.m_lastStampNs;
        if (stampNs != NO_STAMP && stampNs < startNs) continue;
        if (!KeepsDatagram(w, n)) continue;
        // The time shown is never later than the reading (a stepped wall clock) and never
        // before the one before; the time saved is the kernel's as it is, or without one
        // the reading itself, to the nanosecond.
        double arrival = now;
        int64_t arrivalNs = stampNs;
        if (stampNs == NO_STAMP) {
            arrivalNs = startNs + std::llround(now * 1e9);
        } else {
            arrival = std::min(now, static_cast<double>(stampNs - startNs) * 1e-9);
        }
        previous = std::max(arrival, previous);
        const float t = static_cast<float>(previous);
        if (count >= m_indexCapacity) {  // index full (Start without Reset): store nothing more
            m_stopRequested.store(true, std::memory_order_relaxed);
            continue;
        }

        index[count] = PacketRecord{w, n, t, arrivalNs};
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
