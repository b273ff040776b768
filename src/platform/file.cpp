// The platform-independent part of the file calls: reason texts, the temporary's name and
// reading an open stream.
#include "platform/file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrine {

namespace {

// The longest file name (one path component) the file systems we write to allow, in bytes.
constexpr size_t LONGEST_NAME = 255;

const char* KindText(FileKind kind)
{
    switch (kind) {
    case FileKind::Regular: return "a regular file";
    case FileKind::Directory: return "a directory";
    case FileKind::CharacterDevice: return "a character device";
    case FileKind::BlockDevice: return "a block device";
    case FileKind::Fifo: return "a FIFO";
    case FileKind::Socket: return "a socket";
    case FileKind::Pipe: return "a pipe";
    case FileKind::Other: break;
    }
    return "an unknown kind of file";
}

}  // namespace

std::string NotARegularFile(FileKind kind) { return std::string("not a regular file (") + KindText(kind) + ")"; }

std::string NotOpenableReason(FileKind kind)
{
    // The words the system gives for a folder opened as a file, alike on both platforms.
    if (kind == FileKind::Directory) return "Is a directory";
    return NotARegularFile(kind);
}

std::string TemporaryName(const std::string& targetName, size_t random)
{
    const std::string prefix = TEMPORARY_PREFIX;
    const size_t room = LONGEST_NAME - prefix.size() - 1 - random;
    size_t kept = targetName.size() < room ? targetName.size() : room;
    // Never cut a UTF-8 character: back up over continuation bytes.
    while (kept > 0 && kept < targetName.size() && (static_cast<unsigned char>(targetName[kept]) & 0xC0) == 0x80)
        --kept;
    return prefix + targetName.substr(0, kept) + "-";
}

// Both platforms open the stream their own way (UTF-16 names on Windows); reading is the C library's.
size_t InputFile::Read(uint8_t* into, size_t most, std::string* error)
{
    FILE* file = static_cast<FILE*>(m_stream);
    if (!file) return 0;
    errno = 0;
    const size_t got = std::fread(into, 1, most, file);
    if (got == 0 && std::ferror(file)) *error = std::strerror(errno != 0 ? errno : EIO);
    return got;
}

void InputFile::Close()
{
    if (m_stream && !m_standardInput) std::fclose(static_cast<FILE*>(m_stream));
    m_stream = nullptr;
    m_standardInput = false;
}

}  // namespace kestrine
