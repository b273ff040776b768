// The recorder: datagrams captured from one interface, with a capture session's socket,
// protocol switches and address rule, written as pcap records until it is stopped or a
// limit is reached, in memory that does not grow with the recording.
//
// Two threads. The capture thread receives each datagram straight into a write buffer,
// behind room for its record header (the one copy, out of the kernel's ring), keeps or
// drops it as the session would, and hands full buffers, or any buffer holding a datagram
// older than the flush interval, to the writer thread. The writer passes them to a sink:
// pcap files (PcapFileSink), or what a tool makes of them. The capture thread never waits
// for the disk: when every buffer is still being written it stops taking datagrams and the
// kernel's ring holds them, and what the ring cannot hold the kernel counts as dropped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "capture/capture_session.h"
#include "capture/record_file.h"

namespace kestrine {

// What a recording writes and when it ends; zero means no such limit.
struct RecordSettings {
    // A new file before a record that would make the current one larger than this (the
    // file header counted); a file of one record may be larger.
    uint64_t fileBytes = 0;
    // A new file before the first record kept this long after the current file began.
    double fileSeconds = 0;
    uint64_t packetLimit = 0;
    double secondsLimit = 0;
    // The longest a kept datagram stays in memory before it is passed to the sink.
    double flushSeconds = 0.1;
};

enum class RecordEnd {
    Stopped,        // RequestStop
    PacketLimit,
    TimeLimit,
    WriteFailed,    // the sink refused a write: message says why
    InterfaceGone,  // the interface was removed
};

struct RecordResult {
    RecordEnd end = RecordEnd::Stopped;
    std::string message;       // why a recording failed; empty when it did not
    uint64_t datagrams = 0;    // records passed to the sink, whole
    uint64_t kernelDrops = 0;  // datagrams the kernel dropped for want of room in its ring
    bool kernelDropsKnown = false;
    uint32_t files = 0;        // files begun
};

// Where the records go. Called on the writer thread only, in this order: BeginFile(0),
// then Write and BeginFile(n + 1) as the recording goes on, then Finish once.
class RecordSink {
public:
    virtual ~RecordSink() = default;
    // Begins file number sequence (0 first): the pcap file header is the sink's to write.
    virtual bool BeginFile(uint32_t sequence, std::string* error) = 0;
    // Whole records back to back, each a 16-byte pcap record header and its datagram.
    // *kept is how many of the bytes are in the file as whole records: all on success.
    virtual bool Write(const uint8_t* records, size_t size, size_t* kept, std::string* error) = 0;
    // Ends the last file.
    virtual bool Finish(std::string* error) = 0;
};

// The name of file number sequence of a recording to path: path itself first, then the
// name with "-00001", "-00002"... put before its extension (the part from the last dot of
// its last component): "out.pcap", "out-00001.pcap"; "out", "out-00001". Past 99999 the
// number grows wider.
std::string RecordFileName(const std::string& path, uint32_t sequence);

// Pcap files named by RecordFileName; "-" is standard output (one stream, no rotation).
// With keepFiles > 0 at most that many files exist: the oldest is removed as a new one
// begins. A failed write leaves the file ending at its last whole record.
class PcapFileSink final : public RecordSink {
public:
    PcapFileSink(std::string path, uint32_t keepFiles);
    bool BeginFile(uint32_t sequence, std::string* error) override;
    bool Write(const uint8_t* records, size_t size, size_t* kept, std::string* error) override;
    bool Finish(std::string* error) override;
    // The current file's name and the bytes written to it so far (whole records).
    const std::string& CurrentName() const { return m_name; }
    uint64_t CurrentSize() const { return m_size; }

private:
    // A failure on the current file, as "NAME: reason".
    bool Fail(const std::string& reason, std::string* error);

    std::string m_path;
    uint32_t m_keepFiles;
    std::string m_name;
    uint64_t m_size = 0;
    RecordFile m_file;
};

// The bytes of records[0..size) up to the end of the last record that lies wholly in it,
// and (when count is given) how many records that is.
size_t WholeRecordBytes(const uint8_t* records, size_t size, uint64_t* count = nullptr);

class Recorder {
public:
    static constexpr int BUFFER_COUNT = 8;
    static constexpr size_t BUFFER_BYTES = size_t{1} << 20;
    static constexpr int MAX_FILE_BREAKS = 32;  // new files begun inside one buffer

    // The session must be ready; its socket, switches and rule are used as they are, and
    // it must not capture by itself while the recorder runs. Both outlive the recorder.
    Recorder(CaptureSession& session, RecordSink& sink, const RecordSettings& settings);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Allocates the buffers, begins the first file and starts both threads; false with the
    // reason when the file cannot be begun (nothing runs then).
    bool Start(std::string* error);
    // Ends the recording soon (within one receive time-out): one atomic store, so a signal
    // handler may call it. What was kept up to then is written.
    void RequestStop() { m_stopRequested.store(true, std::memory_order_relaxed); }
    // Both threads are done: Wait returns at once.
    bool Finished() const { return m_writerDone.load(std::memory_order_acquire); }
    // Waits for the end; the outcome.
    RecordResult Wait();
    // Datagrams kept so far (not all of them written yet).
    uint64_t Kept() const { return m_kept.load(std::memory_order_acquire); }

private:
    struct Buffer {
        std::unique_ptr<uint8_t[]> bytes;
        size_t used = 0;
        uint32_t records = 0;
        int breaks = 0;
        size_t breakAt[MAX_FILE_BREAKS] = {};  // a new file begins at each of these offsets
    };

    void Capture();
    void Write();
    void WakeWriter();
    // The writer's part of one buffer: its records, and the files that begin among them.
    bool WriteBuffer(const Buffer& buffer);

    CaptureSession& m_session;
    RecordSink& m_sink;
    RecordSettings m_settings;
    Buffer m_buffers[BUFFER_COUNT];
    // Buffers handed to the writer (DONE_BIT once the capture thread has ended) and
    // buffers the writer has given back: the difference is never above BUFFER_COUNT.
    static constexpr uint32_t DONE_BIT = 0x80000000u;
    std::atomic<uint32_t> m_filled = 0;
    std::atomic<uint32_t> m_emptied = 0;
    // Wakes the writer when m_filled changes; taken once per buffer, never per datagram.
    // Not std::atomic::wait: MinGW's libstdc++ realises it with a condition variable whose
    // check and sleep are not under one lock, so a hand-over can be missed and the writer
    // sleep for good.
    std::mutex m_wakeLock;
    std::condition_variable m_wake;
    std::atomic<bool> m_stopRequested = false;
    std::atomic<bool> m_writeFailed = false;  // published with m_failure written
    std::atomic<bool> m_writerDone = false;
    std::atomic<uint64_t> m_kept = 0;
    std::string m_failure;
    RecordEnd m_end = RecordEnd::Stopped;  // the capture thread's, read after it is joined
    uint32_t m_filesBegun = 0;             // the writer's, read after it is joined
    uint64_t m_written = 0;                // the writer's: records in the sink, whole
    uint64_t m_kernelDrops = 0;
    int64_t m_startNs = 0;  // the wall clock at Start: datagrams stamped earlier are left
    bool m_kernelDropsKnown = false;
    std::thread m_captureThread;
    std::thread m_writerThread;
};

}  // namespace kestrine
