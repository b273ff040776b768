// Replacing a file on Linux: mkostemp beside the target, fsync, rename; see replace_file.h.
#include "capture_file/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrine {

namespace {

// Beside the target; a fixed short name cannot exceed the longest file name allowed.
constexpr const char* TEMPORARY_NAME = ".kestrine-save-XXXXXX";

// The file-creation mask, read from /proc where possible: asking umask() sets it for a
// moment, and files other threads create meanwhile would get too wide a mode.
mode_t CreationMask()
{
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned int mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status)) found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found) return static_cast<mode_t>(mask);
    }
    const mode_t mask = umask(022);
    umask(mask);
    return mask;
}

const char* KindOf(mode_t mode)
{
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    return "an unknown kind of file";
}

}  // namespace

FileReplacement::~FileReplacement() { Discard(); }

bool FileReplacement::Begin(const std::string& path, std::string* reason)
{
    Discard();
    // stat follows links: a link to a FIFO is refused like the FIFO; a dangling link counts
    // as no file, and is replaced.
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            *reason = NotARegularFile(KindOf(st.st_mode));
            return false;
        }
    } else if (errno != ENOENT) {
        *reason = std::strerror(errno);
        return false;
    }
    const size_t slash = path.rfind('/');
    std::string name = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + TEMPORARY_NAME;
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    m_target = path;
    m_temporary = name;
    m_file = fd;
    // mkstemp creates the file 0600; a saved file gets the mode of any new file.
    if (fchmod(fd, 0666 & ~CreationMask()) != 0) {
        *reason = std::strerror(errno);
        Discard();
        return false;
    }
    return true;
}

bool FileReplacement::Write(const void* data, size_t size, std::string* reason)
{
    if (m_file < 0) {
        *reason = std::strerror(EBADF);
        return false;
    }
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(static_cast<int>(m_file), at, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            // A regular file never takes nothing without an error; should it, say so.
            *reason = std::strerror(written < 0 ? errno : EIO);
            Discard();
            return false;
        }
        at += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool FileReplacement::Commit(std::string* reason)
{
    if (m_file < 0) {
        *reason = std::strerror(EBADF);
        return false;
    }
    // Delayed write errors (a full disk, EIO) show in fsync or close.
    int failure = 0;
    if (fsync(static_cast<int>(m_file)) != 0) failure = errno;
    // Linux closes the descriptor even when close reports an error.
    if (close(static_cast<int>(m_file)) != 0 && failure == 0) failure = errno;
    m_file = -1;
    if (failure == 0 && std::rename(m_temporary.c_str(), m_target.c_str()) != 0) failure = errno;
    if (failure != 0) {
        *reason = std::strerror(failure);
        Discard();
        return false;
    }
    m_temporary.clear();
    return true;
}

void FileReplacement::Discard()
{
    if (m_file >= 0) close(static_cast<int>(m_file));
    m_file = -1;
    if (!m_temporary.empty()) unlink(m_temporary.c_str());
    m_temporary.clear();
}

}  // namespace kestrine
