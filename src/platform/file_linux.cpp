// The file calls on Linux: open without blocking and check the type, mmap read-only with a
// SIGBUS handler for files truncated under their mapping, and mkostemp + fsync + rename for
// replacements; see file.h.
#include "platform/file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace kestrine {

namespace {

FileKind KindOf(mode_t mode)
{
    if (S_ISREG(mode)) return FileKind::Regular;
    if (S_ISDIR(mode)) return FileKind::Directory;
    if (S_ISCHR(mode)) return FileKind::CharacterDevice;
    if (S_ISBLK(mode)) return FileKind::BlockDevice;
    if (S_ISFIFO(mode)) return FileKind::Fifo;
    if (S_ISSOCK(mode)) return FileKind::Socket;
    return FileKind::Other;
}

FileIdentity IdentityOf(const struct stat& st)
{
    return FileIdentity{true, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// Reading a page of a mapping that the file no longer covers (it was truncated) raises
// SIGBUS. The handler puts zero pages from the faulting page to the end of that mapping, so
// the program reads zeros there instead of dying, and notes that the file shrank. The
// mappings are kept in a fixed table of atomics: the handler may read it at any moment.
struct GuardedRange {
    std::atomic<bool> taken{false};
    std::atomic<uintptr_t> begin{0};  // 0: not in use
    std::atomic<uintptr_t> end{0};
    std::atomic<bool> shrank{false};
};
constexpr size_t MOST_GUARDED = 64;
GuardedRange g_guarded[MOST_GUARDED];
struct sigaction g_previousBus;
std::once_flag g_busHandlerInstalled;
uintptr_t g_pageSize = 4096;  // read before the handler is installed: sysconf is not async-signal-safe

void OnBusError(int signal, siginfo_t* info, void* context)
{
    const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    const uintptr_t page = g_pageSize;
    for (GuardedRange& range : g_guarded) {
        const uintptr_t begin = range.begin.load(std::memory_order_acquire);
        const uintptr_t end = range.end.load(std::memory_order_acquire);
        if (begin == 0 || at < begin || at >= end) continue;
        const uintptr_t from = at & ~(page - 1);
        if (mmap(reinterpret_cast<void*>(from), end - from, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
                 0) == MAP_FAILED)
            break;
        range.shrank.store(true, std::memory_order_release);
        return;  // the read is tried again, on the zero page
    }
    // Not one of ours: what was there before.
    if (g_previousBus.sa_flags & SA_SIGINFO) {
        g_previousBus.sa_sigaction(signal, info, context);
    } else if (g_previousBus.sa_handler != SIG_DFL && g_previousBus.sa_handler != SIG_IGN) {
        g_previousBus.sa_handler(signal);
    } else {
        // The default action, when the faulting read is tried again.
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        sigaction(SIGBUS, &standard, nullptr);
    }
}

void InstallBusHandler()
{
    std::call_once(g_busHandlerInstalled, [] {
        g_pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &g_previousBus);
    });
}

// The table slot guarding [data, data + size), or -1 when the table is full (the mapping
// then works unguarded).
intptr_t Guard(const uint8_t* data, size_t size)
{
    InstallBusHandler();
    for (size_t i = 0; i < MOST_GUARDED; ++i) {
        bool expected = false;
        if (!g_guarded[i].taken.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) continue;
        g_guarded[i].shrank.store(false, std::memory_order_relaxed);
        g_guarded[i].end.store(reinterpret_cast<uintptr_t>(data) + size, std::memory_order_release);
        g_guarded[i].begin.store(reinterpret_cast<uintptr_t>(data), std::memory_order_release);
        return static_cast<intptr_t>(i);
    }
    return -1;
}

void Unguard(intptr_t slot)
{
    if (slot < 0) return;
    GuardedRange& range = g_guarded[slot];
    range.begin.store(0, std::memory_order_release);
    range.end.store(0, std::memory_order_release);
    range.taken.store(false, std::memory_order_release);
}

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

// Gives the temporary fd the target's owner, group and permission bits, as far as the
// process may: root keeps the owner, a member of the target's group keeps the group. The
// set-user-ID, set-group-ID and sticky bits are not carried over to a file written anew.
bool TakeOwnershipAndMode(int fd, const struct stat& target, std::string* reason)
{
    if (fchown(fd, target.st_uid, target.st_gid) != 0) (void)fchown(fd, static_cast<uid_t>(-1), target.st_gid);
    if (fchmod(fd, target.st_mode & 0777) != 0) {
        *reason = std::strerror(errno);
        return false;
    }
    return true;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

FileIdentity IdentityOf(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return {};
    return IdentityOf(st);
}

bool MappedFile::Open(const std::string& path, std::string* reason)
{
    Close();
    // O_NONBLOCK: a FIFO without a writer opens at once, to be refused by its type.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (!ok) {
        *reason = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        *reason = NotOpenableReason(KindOf(st.st_mode));
        ok = false;
    } else if (static_cast<uint64_t>(st.st_size) > SIZE_MAX / 2) {
        *reason = "the file is too large to map";
        ok = false;
    } else if (st.st_size > 0) {
        void* data = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
        if (data == MAP_FAILED) {
            *reason = std::strerror(errno);
            ok = false;
        } else {
            m_data = static_cast<const uint8_t*>(data);
            m_size = static_cast<size_t>(st.st_size);
            m_handle = Guard(m_data, m_size);
        }
    }
    // The mapping holds the file; the descriptor is not needed any more.
    close(fd);
    if (ok) m_identity = IdentityOf(st);
    return ok;
}

void MappedFile::Close()
{
    Unguard(m_handle);
    m_handle = -1;
    if (m_data) munmap(const_cast<uint8_t*>(m_data), m_size);
    m_data = nullptr;
    m_size = 0;
    m_identity = {};
}

bool MappedFile::Shrank() const
{
    return m_handle >= 0 && g_guarded[m_handle].shrank.load(std::memory_order_acquire);
}

void MappedFile::ExpectSequentialReading(bool sequential) const
{
    if (m_data) madvise(const_cast<uint8_t*>(m_data), m_size, sequential ? MADV_SEQUENTIAL : MADV_NORMAL);
}

bool InputFile::Open(const std::string& path, std::string* reason)
{
    Close();
    if (path == "-") {
        m_stream = stdin;
        m_standardInput = true;
        return true;
    }
    FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file) {
        *reason = std::strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(file);
        *reason = NotOpenableReason(FileKind::Directory);
        return false;
    }
    m_stream = file;
    return true;
}

FileReplacement::~FileReplacement() { Discard(); }

bool FileReplacement::Begin(const std::string& path, std::string* reason)
{
    Discard();
    // stat follows links: a link to a FIFO is refused like the FIFO; a dangling link counts
    // as no file, and is replaced. A link to a regular file lends the replacement its mode.
    struct stat target;
    m_targetExists = stat(path.c_str(), &target) == 0;
    if (m_targetExists) {
        if (!S_ISREG(target.st_mode)) {
            *reason = NotARegularFile(KindOf(target.st_mode));
            return false;
        }
    } else if (errno != ENOENT) {
        *reason = std::strerror(errno);
        return false;
    }
    const std::string folder = FolderOf(path);
    std::string name = folder + TemporaryName(path.substr(folder.size()), 6) + "XXXXXX";
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    m_target = path;
    m_temporary = name;
    m_file = fd;
    // mkstemp creates the file 0600: it takes the target's mode, or that of any new file.
    if (m_targetExists) {
        if (TakeOwnershipAndMode(fd, target, reason)) return true;
    } else if (fchmod(fd, 0666 & ~CreationMask()) == 0) {
        return true;
    } else {
        *reason = std::strerror(errno);
    }
    Discard();
    return false;
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
    // The rename itself lasts only once the folder is synced; best effort.
    const std::string folder = FolderOf(m_target);
    const int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
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
