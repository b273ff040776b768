// Reading the small system files the Linux adapter provider consults: /sys attributes, the
// device database, DHCP lease files and resolver files.
#pragma once

#include <cstddef>
#include <string>

namespace kestrine {

// Enough for any lease or resolver file; a larger one is read up to here.
inline constexpr size_t SYSTEM_FILE_LIMIT = 1 << 20;

// The first limit bytes of a regular file, "" when it is missing, unreadable or not a
// regular file. Never blocks: a FIFO or device in a file's place is refused, not waited on.
std::string ReadSystemFile(const std::string& path, size_t limit = SYSTEM_FILE_LIMIT);

// True when something exists at path (never opened).
bool PathExists(const std::string& path);

}  // namespace kestrine
