// What a recording needs of the platform, behind a small interface: the file it appends
// records to (cut back to a length after a failed write, removed when a ring of files moves
// on), and the kernel's count of datagrams dropped before the capture could take them.
// Realised in record_file_linux.cpp and record_file_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture/raw_socket.h"

namespace kestrine {

class RecordFile {
public:
    RecordFile() = default;
    ~RecordFile() { Close(nullptr); }
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Creates path (UTF-8), emptying a file that is there; "-" is standard output, written
    // as it is (no other program's bytes are cut from it). False with the system's reason.
    bool Create(const std::string& path, std::string* reason);
    // Appends size bytes; *written is how many of them reached the file, all on success,
    // fewer when a write failed part way (the disk full, a size limit).
    bool Write(const uint8_t* data, size_t size, size_t* written, std::string* reason);
    // Cuts the file back to its first size bytes; false for standard output or on failure.
    bool Truncate(uint64_t size);
    bool IsOpen() const { return m_handle != -1; }
    // Closes the file; false with the reason when the system reports a failure at close.
    bool Close(std::string* reason);

private:
    intptr_t m_handle = -1;  // a descriptor on Linux, a HANDLE on Windows; -1 when closed
    bool m_standardOutput = false;
};

// Removes the file path names; false when it could not be removed.
bool RemoveRecordFile(const std::string& path);

// Adds to *dropped the datagrams the socket's receive ring had no room for since the last
// call (the kernel counts from zero again after each); false where the platform keeps no
// such count.
bool TakeKernelDrops(SocketHandle socket, uint64_t* dropped);

}  // namespace kestrine
