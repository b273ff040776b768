// Record to File in the window: the recorder kestrine-capture uses, writing one pcap file
// with the current session's socket, switches, rule and capture filter, and the file
// followed as it grows. The list keeps only the index of what it has read of the file;
// the datagrams stay in the file, mapped read-only.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "capture/recorder.h"
#include "capture_file/capture_parser.h"
#include "platform/file.h"

namespace kestrine {

// A pcap file read while another writer appends to it: each Follow maps the file anew when
// what was mapped has been read, and takes the whole records that are there.
class FollowedFile {
public:
    explicit FollowedFile(std::string path) : m_path(std::move(path)) {}
    // Takes at most `most` more datagrams; false with the reason when the file cannot be
    // mapped or what it holds is not a capture file's beginning.
    bool Follow(size_t most, std::string* reason);
    const std::vector<PacketRecord>& Records() const { return m_records; }

private:
    // Maps the file again; the records move to the new mapping.
    bool Remap(std::string* reason);

    std::string m_path;
    std::unique_ptr<MappedFile> m_map;
    CaptureParser m_parser;
    DatagramTaker m_taker;
    size_t m_at = 0;  // the offset of the next unit
    std::vector<PacketRecord> m_records;
};

class FileRecording {
public:
    // The session must be ready and not capturing; it outlives the recording.
    FileRecording(CaptureSession& session, std::string path);
    FileRecording(const FileRecording&) = delete;
    FileRecording& operator=(const FileRecording&) = delete;

    // Creates the file and starts recording; false with the reason when it cannot.
    bool Start(std::string* error);
    void RequestStop() { m_recorder.RequestStop(); }
    bool Finished() const { return m_recorder.Finished(); }
    // Waits for the end (soon after RequestStop or a failure); the outcome.
    RecordResult Wait() { return m_recorder.Wait(); }
    // Takes up to `most` more of the recorded datagrams into Records().
    bool Follow(size_t most, std::string* reason) { return m_file.Follow(most, reason); }
    const std::vector<PacketRecord>& Records() const { return m_file.Records(); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    PcapFileSink m_sink;
    Recorder m_recorder;
    FollowedFile m_file;
};

}  // namespace kestrine
