// The recorder's two threads, the pcap file sink and its names. See recorder.h.
#include "capture/recorder.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "capture_file/save_packets.h"
#include "common/ip_datagram_length.h"

namespace kestrine {

namespace {

using Clock = std::chrono::steady_clock;

// The room a receive is given: the largest IPv4 datagram.
constexpr size_t DATAGRAM_ROOM = 65535;
constexpr size_t RECORD_HEADER = SAVED_RECORD_HEADER_BYTES;

double SecondsSince(Clock::time_point start, Clock::time_point now)
{
    return std::chrono::duration<double>(now - start).count();
}

int64_t WallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

uint32_t CapturedLength(const uint8_t* header)
{
    uint32_t length;
    std::memcpy(&length, header + 8, sizeof length);
    return length;
}

}  // namespace

size_t WholeRecordBytes(const uint8_t* records, size_t size, uint64_t* count)
{
    size_t offset = 0;
    uint64_t n = 0;
    while (size - offset >= RECORD_HEADER) {
        const uint64_t length = CapturedLength(records + offset);
        if (length > size - offset - RECORD_HEADER) break;
        offset += RECORD_HEADER + static_cast<size_t>(length);
        ++n;
    }
    if (count) *count = n;
    return offset;
}

std::string RecordFileName(const std::string& path, uint32_t sequence)
{
    if (sequence == 0) return path;
    char number[16];
    std::snprintf(number, sizeof number, "-%05u", sequence);
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    // A dot that opens the name (".pcap") or lies in a folder's name is no extension.
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (dot == std::string::npos || dot <= nameStart) return path + number;
    return path.substr(0, dot) + number + path.substr(dot);
}

PcapFileSink::PcapFileSink(std::string path, uint32_t keepFiles) : m_path(std::move(path)), m_keepFiles(keepFiles) {}

bool PcapFileSink::Fail(const std::string& reason, std::string* error)
{
    *error = (m_name == "-" ? std::string("standard output") : m_name) + ": " + reason;
    return false;
}

bool PcapFileSink::BeginFile(uint32_t sequence, std::string* error)
{
    std::string reason;
    if (!m_file.Close(&reason)) return Fail(reason, error);
    if (m_keepFiles > 0 && sequence >= m_keepFiles) {
        const std::string oldest = RecordFileName(m_path, sequence - m_keepFiles);
        if (!RemoveRecordFile(oldest)) {
            m_name = oldest;
            return Fail("cannot be removed", error);
        }
    }
    m_name = RecordFileName(m_path, sequence);
    m_size = 0;
    if (!m_file.Create(m_name, &reason)) return Fail(reason, error);
    uint8_t header[SAVED_FILE_HEADER_BYTES];
    WritePcapFileHeader(header);
    size_t written = 0;
    if (!m_file.Write(header, sizeof header, &written, &reason)) {
        m_file.Truncate(0);
        return Fail(reason, error);
    }
    m_size = sizeof header;
    return true;
}

bool PcapFileSink::Write(const uint8_t* records, size_t size, size_t* kept, std::string* error)
{
    size_t written = 0;
    std::string reason;
    if (m_file.Write(records, size, &written, &reason)) {
        m_size += size;
        *kept = size;
        return true;
    }
    // What went in beyond the last whole record is cut off again: every reader finds the
    // file ending with a complete record.
    *kept = WholeRecordBytes(records, written);
    if (*kept != written) m_file.Truncate(m_size + *kept);
    m_size += *kept;
    return Fail(reason, error);
}

bool PcapFileSink::Finish(std::string* error)
{
    std::string reason;
    return m_file.Close(&reason) || Fail(reason, error);
}

Recorder::Recorder(CaptureSession& session, RecordSink& sink, const RecordSettings& settings)
    : m_session(session), m_sink(sink), m_settings(settings)
{
}

Recorder::~Recorder()
{
    RequestStop();
    if (m_captureThread.joinable() || m_writerThread.joinable()) Wait();
}

bool Recorder::Start(std::string* error)
{
    for (Buffer& buffer : m_buffers) {
        if (!buffer.bytes) buffer.bytes.reset(new (std::nothrow) uint8_t[BUFFER_BYTES]);
        if (!buffer.bytes) {
            *error = "not enough memory for the write buffers";
            return false;
        }
        // Touched now, so that the memory the recording holds is all there from its start.
        std::memset(buffer.bytes.get(), 0, BUFFER_BYTES);
    }
    if (!m_sink.BeginFile(0, error)) return false;
    m_filesBegun = 1;
    // Datagrams queued before the start are not part of the recording; the drop count
    // starts from here.
    m_session.m_socket.Drain();
    // Taken here, not when the capture thread gets going: a datagram that arrives in between
    // belongs to the recording.
    m_startNs = WallClockNs();
    uint64_t before = 0;
    TakeKernelDrops(m_session.m_socket.m_handle, &before);
    m_captureThread = std::thread([this] { Capture(); });
    m_writerThread = std::thread([this] { Write(); });
    return true;
}

RecordResult Recorder::Wait()
{
    if (m_captureThread.joinable()) m_captureThread.join();
    if (m_writerThread.joinable()) m_writerThread.join();
    RecordResult result;
    result.end = m_writeFailed.load(std::memory_order_acquire) ? RecordEnd::WriteFailed : m_end;
    if (result.end == RecordEnd::WriteFailed) result.message = m_failure;
    if (result.end == RecordEnd::InterfaceGone) result.message = "the interface was removed";
    result.datagrams = m_written;
    result.kernelDrops = m_kernelDrops;
    result.kernelDropsKnown = m_kernelDropsKnown;
    result.files = m_filesBegun;
    return result;
}

void Recorder::Capture()
{
    RawSocket& socket = m_session.m_socket;
    const Clock::time_point start = Clock::now();
    const int64_t startNs = m_startNs;
    Clock::time_point fileStart = start;
    uint64_t fileBytes = SAVED_FILE_HEADER_BYTES;
    uint64_t fileRecords = 0;
    uint64_t kept = 0;
    uint32_t filled = 0;
    Buffer* buffer = nullptr;
    Clock::time_point oldest{};  // when the buffer's first record was kept
    RecordEnd end = RecordEnd::Stopped;

    const auto handOver = [&] {
        ++filled;
        m_filled.store(filled, std::memory_order_release);
        WakeWriter();
        buffer = nullptr;
    };

    while (!m_stopRequested.load(std::memory_order_relaxed) && !m_writeFailed.load(std::memory_order_acquire)) {
        Clock::time_point now = Clock::now();
        if (m_settings.secondsLimit > 0 && SecondsSince(start, now) >= m_settings.secondsLimit) {
            end = RecordEnd::TimeLimit;
            break;
        }
        if (buffer && buffer->used > 0 && SecondsSince(oldest, now) >= m_settings.flushSeconds) handOver();
        if (buffer && (BUFFER_BYTES - buffer->used < RECORD_HEADER + DATAGRAM_ROOM || buffer->breaks == MAX_FILE_BREAKS))
            handOver();
        if (!buffer) {
            if (filled - m_emptied.load(std::memory_order_acquire) >= BUFFER_COUNT) {
                // Every buffer is with the writer: the datagrams wait in the kernel's ring.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            buffer = &m_buffers[filled % BUFFER_COUNT];
            buffer->used = 0;
            buffer->records = 0;
            buffer->breaks = 0;
        }

        uint8_t* const record = buffer->bytes.get() + buffer->used;
        uint8_t* const datagram = record + RECORD_HEADER;
        int n = socket.Receive(datagram, static_cast<int>(DATAGRAM_ROOM));
        if (n == RECEIVE_GONE) {
            end = RecordEnd::InterfaceGone;
            break;
        }
        if (n <= 0) continue;
        n = static_cast<int>(IpDatagramLength(datagram, static_cast<uint32_t>(n)));
        int64_t stampNs = socket.m_lastStampNs;
        if (stampNs == NO_STAMP) {
            stampNs = WallClockNs();
        } else if (stampNs < startNs) {
            continue;  // left in the ring from before the start
        }
        if (!m_session.KeepsDatagram(datagram, n)) continue;
        if (!WritePcapRecordHeader(record, stampNs, static_cast<uint32_t>(n))) continue;

        now = Clock::now();
        const uint64_t size = RECORD_HEADER + static_cast<uint64_t>(n);
        const bool full = m_settings.fileBytes > 0 && fileBytes + size > m_settings.fileBytes;
        const bool old = m_settings.fileSeconds > 0 && SecondsSince(fileStart, now) >= m_settings.fileSeconds;
        if (fileRecords > 0 && (full || old)) {
            buffer->breakAt[buffer->breaks++] = buffer->used;
            fileStart = now;
            fileBytes = SAVED_FILE_HEADER_BYTES;
            fileRecords = 0;
        }
        if (buffer->used == 0) oldest = now;
        buffer->used += static_cast<size_t>(size);
        ++buffer->records;
        fileBytes += size;
        ++fileRecords;
        ++kept;
        m_kept.store(kept, std::memory_order_release);
        if (m_settings.packetLimit > 0 && kept >= m_settings.packetLimit) {
            end = RecordEnd::PacketLimit;
            break;
        }
    }

    if (buffer && (buffer->used > 0 || buffer->breaks > 0)) {
        ++filled;
    }
    m_kernelDropsKnown = TakeKernelDrops(socket.m_handle, &m_kernelDrops);
    m_end = end;
    m_filled.store(filled | DONE_BIT, std::memory_order_release);
    WakeWriter();
}

void Recorder::WakeWriter()
{
    // Through the lock: the writer either sees the new count before it sleeps or is
    // already asleep when the notice comes.
    { std::lock_guard<std::mutex> lock(m_wakeLock); }
    m_wake.notify_one();
}

bool Recorder::WriteBuffer(const Buffer& buffer)
{
    std::string error;
    size_t from = 0;
    for (int i = 0;; ++i) {
        const size_t to = i < buffer.breaks ? buffer.breakAt[i] : buffer.used;
        if (to > from) {
            size_t kept = 0;
            const bool wrote = m_sink.Write(buffer.bytes.get() + from, to - from, &kept, &error);
            uint64_t records = 0;
            WholeRecordBytes(buffer.bytes.get() + from, kept, &records);
            m_written += records;
            if (!wrote) break;
        }
        if (i == buffer.breaks) return true;
        if (!m_sink.BeginFile(m_filesBegun, &error)) break;
        ++m_filesBegun;
        from = to;
    }
    m_failure = error;
    m_writeFailed.store(true, std::memory_order_release);
    return false;
}

void Recorder::Write()
{
    uint32_t emptied = 0;
    bool failed = false;
    for (;;) {
        const uint32_t state = m_filled.load(std::memory_order_acquire);
        const uint32_t filled = state & ~DONE_BIT;
        while (emptied != filled) {
            // After a failure the buffers are only given back, so the capture thread is
            // never held up while it notices.
            if (!failed) failed = !WriteBuffer(m_buffers[emptied % BUFFER_COUNT]);
            ++emptied;
            m_emptied.store(emptied, std::memory_order_release);
        }
        if (state & DONE_BIT) break;
        std::unique_lock<std::mutex> lock(m_wakeLock);
        m_wake.wait(lock, [&] { return m_filled.load(std::memory_order_acquire) != state; });
    }
    std::string error;
    if (!m_sink.Finish(&error) && !failed) {
        m_failure = error;
        m_writeFailed.store(true, std::memory_order_release);
    }
    m_writerDone.store(true, std::memory_order_release);
}

}  // namespace kestrine
