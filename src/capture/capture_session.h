// One capture session: a raw socket bound to one interface, one receive buffer and packet
// index allocated once, limits, protocol switches, the address filter and the capture thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "capture/host_address.h"
#include "common/packet_record.h"
#include "capture/raw_socket.h"
#include "capture/worker_thread.h"
#include "filter/bpf.h"
#include "filter/filter_rule.h"

namespace kestrine {

// Failure bits of CaptureSession::m_errors: set-up steps, then what ends a session later.
inline constexpr uint32_t CAPTURE_ERR_SOCKET = 0x01;
inline constexpr uint32_t CAPTURE_ERR_RCVTIMEO = 0x02;
inline constexpr uint32_t CAPTURE_ERR_BIND = 0x04;
inline constexpr uint32_t CAPTURE_ERR_RCVALL = 0x08;
inline constexpr uint32_t CAPTURE_ERR_MEMORY = 0x10;
inline constexpr uint32_t CAPTURE_ERR_HDRINCL = 0x20;
// The bound interface was removed during a capture: the capture ended and the session is
// no longer ready (it cannot capture again; a new session must be bound).
inline constexpr uint32_t CAPTURE_ERR_INTERFACE_GONE = 0x40;

class CaptureSession : public WorkerThread {
public:
    static constexpr uint32_t MAX_BUFFER_KILOBYTES = 1048576;
    static constexpr uint32_t MIN_INDEX_ENTRIES = 10;
    static constexpr uint32_t MAX_INDEX_ENTRIES = 8192;
    static constexpr int RECEIVE_TIMEOUT_MS = 10;
    static constexpr int KERNEL_QUEUE_BYTES = 8 << 20;  // the kernel's queue; Linux reads a ring instead

    // Allocates, opens, configures and binds; never throws. Read m_ready (and m_errors).
    CaptureSession(const HostAddress& address, uint32_t bufferKilobytes, uint32_t indexEntries);
    ~CaptureSession() override;

    int SetSecondsLimit(int seconds);
    int SetPacketLimit(int packets);
    int SetKilobyteLimit(int kilobytes);

    // Sets the capture filter while idle: a compiled filter expression (empty: none), kept
    // beside the protocol switches and the address rule. Where the socket takes it (Linux)
    // the kernel drops what it refuses before it is queued; elsewhere, or with inKernel
    // false, the capture thread runs it on each datagram. What was queued before is
    // drained. Returns whether the kernel runs it.
    bool SetCaptureFilter(const std::vector<BpfInstruction>& program, bool inKernel = true);
    bool CaptureFilterInKernel() const { return m_filterInKernel; }

    // Prepares a new capture while idle: clears the stop request, drains the socket, zeroes
    // index, buffer and counters.
    void Reset();

    // The body of the capture thread; the argument is the session.
    static void CaptureThread(void* session);

    // The protocol switches, the address rule, then the capture filter when the capture
    // thread runs it, on one datagram: whether it is stored.
    // The recorder asks the same question of the session it takes its settings from.
    bool KeepsDatagram(const uint8_t* datagram, int length) const;

    // The packet count published by the capture thread (entries below it are complete).
    int32_t PacketCount() const { return m_packetCount.load(std::memory_order_acquire); }

    // Set up by the constructor; the capture thread may add CAPTURE_ERR_INTERFACE_GONE and
    // clear m_ready, both before it publishes m_finished (release), so a reader that has
    // seen m_finished with acquire order sees them.
    std::atomic<uint32_t> m_errors = 0;
    std::atomic<bool> m_ready = false;
    bool m_filterEnabled = false;
    FilterRule m_filter;
    RawSocket m_socket;
    int32_t m_secondsLimit = 0;
    int32_t m_packetLimit = 0;
    int32_t m_kilobyteLimit = 0;
    int32_t m_bytesCaptured = 0;
    std::atomic<int32_t> m_packetCount = 0;
    int32_t m_indexCapacity = 0;
    PacketRecord* m_index = nullptr;
    int32_t m_bufferSize = 0;
    uint8_t* m_buffer = nullptr;
    // The start of the last capture's time line, taken when Start is called: the stopwatch's
    // reading and the wall clock (nanoseconds since 1970) right after it. Time stamps count
    // from the first; the socket's arrival times are placed against the second, and a
    // datagram that arrived before it is not stored.
    double m_startSeconds = 0.0;
    int64_t m_startWallClockNs = 0;
    bool m_keepUdp = true;
    bool m_keepIcmp = true;
    bool m_keepIgmp = true;
    bool m_keepTcp = true;
    bool m_keepOther = true;

protected:
    void Starting() override;

private:
    std::vector<BpfInstruction> m_captureFilter;  // run by the capture thread; empty: none
    bool m_filterInKernel = false;

    void Capture();
};

}  // namespace kestrine
