// System-file reading with open(2): O_NONBLOCK keeps a FIFO without a writer from holding
// the query (and the dialog) forever, and fstat refuses anything but a regular file before
// a byte is read.
#include "netinfo/system_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kestrine {

std::string ReadSystemFile(const std::string& path, size_t limit)
{
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return text;
    struct stat s {};
    if (fstat(fd, &s) == 0 && S_ISREG(s.st_mode)) {
        char chunk[4096];
        while (text.size() < limit) {
            const ssize_t n = read(fd, chunk, std::min(sizeof chunk, limit - text.size()));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            text.append(chunk, static_cast<size_t>(n));
        }
    }
    close(fd);
    return text;
}

bool PathExists(const std::string& path)
{
    struct stat s {};
    return stat(path.c_str(), &s) == 0;
}

}  // namespace kestrine
