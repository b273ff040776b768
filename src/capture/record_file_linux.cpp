// RecordFile on POSIX descriptors; the kernel's drop count of a TPACKET_V3 ring.
#include "capture/record_file.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace kestrine {

bool RecordFile::Create(const std::string& path, std::string* reason)
{
    Close(nullptr);
    if (path == "-") {
        m_handle = STDOUT_FILENO;
        m_standardOutput = true;
        return true;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    m_handle = fd;
    m_standardOutput = false;
    return true;
}

bool RecordFile::Write(const uint8_t* data, size_t size, size_t* written, std::string* reason)
{
    *written = 0;
    while (*written < size) {
        const ssize_t n = write(static_cast<int>(m_handle), data + *written, size - *written);
        if (n > 0) {
            *written += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // A write that takes nothing without an error is a full disk on some systems.
            *reason = std::strerror(n < 0 ? errno : ENOSPC);
            return false;
        }
    }
    return true;
}

bool RecordFile::Truncate(uint64_t size)
{
    if (m_standardOutput || m_handle == -1) return false;
    return ftruncate(static_cast<int>(m_handle), static_cast<off_t>(size)) == 0 &&
           lseek(static_cast<int>(m_handle), static_cast<off_t>(size), SEEK_SET) >= 0;
}

bool RecordFile::Close(std::string* reason)
{
    if (m_handle == -1) return true;
    bool closed = true;
    if (!m_standardOutput && close(static_cast<int>(m_handle)) != 0) {
        closed = false;
        if (reason) *reason = std::strerror(errno);
    }
    m_handle = -1;
    m_standardOutput = false;
    return closed;
}

bool RemoveRecordFile(const std::string& path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }

bool TakeKernelDrops(SocketHandle socket, uint64_t* dropped)
{
    tpacket_stats_v3 counts{};
    socklen_t size = sizeof counts;
    if (getsockopt(socket, SOL_PACKET, PACKET_STATISTICS, &counts, &size) != 0) return false;
    *dropped += counts.tp_drops;
    return true;
}

}  // namespace kestrine
