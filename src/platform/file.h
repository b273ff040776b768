// The platform's file calls, behind one small interface: a capture file mapped read-only
// for the window, a file or stream read in sequence for the tools, the identity of a file
// however it is named, and the whole-or-nothing replacement of a file that saving and the
// first-run store use. Paths are UTF-8 on every platform. Realised in file_linux.cpp and
// file_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrine {

// What a path names when it is not a regular file; the reason texts are the same on every
// platform (file.cpp).
enum class FileKind { Regular, Directory, CharacterDevice, BlockDevice, Fifo, Socket, Pipe, Other };
// "Is a directory" for a folder, "not a regular file (a FIFO)" and the like for the rest.
std::string NotOpenableReason(FileKind kind);
// Why a target of the given kind ("a FIFO", "a directory"...) is not replaced.
std::string NotARegularFile(FileKind kind);

// One file however it is named: device and inode on Linux, volume serial number and file
// index on Windows. Two names of one file give equal identities.
struct FileIdentity {
    bool known = false;
    uint64_t volume = 0;
    uint64_t file = 0;
    bool operator==(const FileIdentity& other) const
    {
        return known && other.known && volume == other.volume && file == other.file;
    }
};
// The identity of what path names itself (a symbolic link is not followed: it is what a
// replacement replaces); unknown when it names nothing or cannot be asked.
FileIdentity IdentityOf(const std::string& path);

// A regular file mapped read-only, whole: the bytes stay on disk and in the system's cache,
// not in the process's own memory, so a file larger than memory opens. Anything but a
// regular file is refused at once, before any read (a FIFO is opened without waiting for a
// writer). On Linux, pages that the file no longer covers because it was truncated while
// mapped read as zeros instead of raising SIGBUS, and Shrank() says so; Windows does not
// let a mapped file be truncated.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile() { Close(); }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // False with a one-sentence reason (the system's, or NotOpenableReason) on failure.
    bool Open(const std::string& path, std::string* reason);
    void Close();

    const uint8_t* Data() const { return m_data; }  // null for an empty file
    size_t Size() const { return m_size; }
    FileIdentity Identity() const { return m_identity; }
    // The file was found shorter than its mapping: the missing part reads as zeros.
    bool Shrank() const;
    // Hints that the mapping is about to be read from start to end once (or not).
    void ExpectSequentialReading(bool sequential) const;

private:
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    FileIdentity m_identity;
    intptr_t m_handle = -1;  // the platform's slot or handle for the mapping; -1 when none
};

// A file, FIFO, device or standard input ("-") read in sequence; a folder is refused.
class InputFile {
public:
    InputFile() = default;
    ~InputFile() { Close(); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool Open(const std::string& path, std::string* reason);
    // Up to most bytes; 0 at the end, or 0 with error set when reading failed.
    size_t Read(uint8_t* into, size_t most, std::string* error);
    void Close();

private:
    void* m_stream = nullptr;  // the C stream
    bool m_standardInput = false;
};

// Writing a file whole or not at all: the bytes go to a temporary file beside the target,
// named ".kestrine-save-" and the target's name, which is flushed to disk and renamed over
// the target. A failure at any step removes the temporary and leaves the target as it was.
// The replacement keeps an existing target's permissions (and owner and group where the
// process may set them); a new file gets the mode of any new file.
class FileReplacement {
public:
    FileReplacement() = default;
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    // A temporary not yet renamed is closed and removed.
    ~FileReplacement();

    // Checks that path names a regular file, following symbolic links, or nothing, then
    // creates the temporary beside it. Anything else there is refused with a reason naming
    // its kind, such as "not a regular file (a FIFO)", before any file is made. A symbolic
    // link is itself replaced; the file it points to is left as it was.
    bool Begin(const std::string& path, std::string* reason);

    // Appends size bytes to the temporary. A failure removes the temporary.
    bool Write(const void* data, size_t size, std::string* reason);

    // Flushes the temporary to disk, closes it and renames it over the target (and, on
    // Linux, syncs the folder so that the rename lasts). False with the reason, and the
    // temporary removed, when any step fails.
    bool Commit(std::string* reason);

private:
    // Closes the temporary, if open, and removes it.
    void Discard();

    std::string m_target;
    std::string m_temporary;  // empty while no temporary exists
    bool m_targetExists = false;
    // The open temporary: a descriptor on Linux, a HANDLE on Windows; -1 when closed.
    intptr_t m_file = -1;
};

// The start of the temporary's name for a target name: the prefix, as much of the target's
// name as leaves room for `random` more characters in one file name of the longest length
// allowed (255 bytes; whole UTF-8 characters), and "-". The caller appends the random part.
inline constexpr const char* TEMPORARY_PREFIX = ".kestrine-save-";
std::string TemporaryName(const std::string& targetName, size_t random);

}  // namespace kestrine
