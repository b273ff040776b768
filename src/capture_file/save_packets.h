// "Save Packets As...": a capture session's datagrams written as a pcap file. Free of the UI
// toolkit: the main window calls it with the session's index, the tests directly.
#pragma once

#include <cstdint>
#include <string>

#include "common/packet_record.h"

namespace kestrine {

// The file's snapshot length: the largest readers take for raw IP, above any datagram
// (64 KiB), so every record is written whole.
inline constexpr int32_t SAVE_SNAPSHOT_LENGTH = 262144;
// The saved file's layout: its header, then each datagram behind a record header.
inline constexpr uint64_t SAVED_FILE_HEADER_BYTES = 24;
inline constexpr uint64_t SAVED_RECORD_HEADER_BYTES = 16;

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

}  // namespace kestrine
