// "Save Packets As...": a capture session's datagrams written as a pcap file. Free of the UI
// toolkit: the main window calls it with the session's index, the tests directly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/packet_record.h"

namespace kestrine {

// The file's snapshot length: the largest readers take for raw IP, above any datagram
// (64 KiB), so every record is written whole.
inline constexpr int32_t SAVE_SNAPSHOT_LENGTH = 262144;
// The saved file's layout: its header, then each datagram behind a record header.
inline constexpr uint64_t SAVED_FILE_HEADER_BYTES = 24;
inline constexpr uint64_t SAVED_RECORD_HEADER_BYTES = 16;

// The same layout a piece at a time, for writers that stream records (the recorder): the
// file header into out[0..24), and a record's header into out[0..16), false (nothing
// written) when the format cannot hold the arrival time. Machine byte order, as saved.
void WritePcapFileHeader(uint8_t* out);
bool WritePcapRecordHeader(uint8_t* out, int64_t arrivalNs, uint32_t length);

// Writes records[0..count) to path (UTF-8) as a classic pcap file at nanosecond resolution, link
// type raw IPv4 (101), each record stamped with its arrival time (arrivalNs). Written to a
// temporary file beside path and renamed over it at the end, so a failed write never leaves
// a half-written file under the chosen name. False with a one-line reason on failure.
// A length outside [0, SAVE_SNAPSHOT_LENGTH], or an arrival time outside the format's
// unsigned 32-bit seconds, fails before any file is created; so does a path naming anything but a
// regular file, links followed (a directory, device, FIFO or socket), with a reason such as
// "not a regular file (a FIFO)". A symbolic link to a regular file is itself replaced by
// the saved file; the file it pointed to is left as it was.
bool SavePackets(const PacketRecord* records, int32_t count, const std::string& path, std::string* error);

class FileReplacement;

// The same save a part at a time, so a window can write a long list in slices. Begin
// checks the records and creates the temporary, WriteSome writes the next records, Commit
// puts the file in place. Dropped before Commit (or after any failure), it removes the
// temporary: the target stays as it was.
class PacketSaver {
public:
    PacketSaver();
    ~PacketSaver();
    PacketSaver(const PacketSaver&) = delete;
    PacketSaver& operator=(const PacketSaver&) = delete;

    // The records must stay as they are until Commit. False with the reason, as SavePackets.
    bool Begin(const PacketRecord* records, int32_t count, const std::string& path, std::string* error);
    // Writes up to the next n records; false with the reason on failure.
    bool WriteSome(int32_t n, std::string* error);
    int32_t Written() const { return m_next; }
    bool AllWritten() const { return m_next == m_count; }
    // Writes what is still gathered, then flushes and renames the file over the target.
    bool Commit(std::string* error);

private:
    bool Flush(std::string* error);

    std::unique_ptr<FileReplacement> m_file;
    const PacketRecord* m_records = nullptr;
    int32_t m_count = 0;
    int32_t m_next = 0;
    std::vector<uint8_t> m_block;
};

}  // namespace kestrine
