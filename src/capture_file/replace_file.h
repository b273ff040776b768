// Writing a file whole or not at all: the bytes go to a temporary file beside the target,
// which is flushed to disk and then renamed over the target. A failure at any step removes
// the temporary and leaves the target as it was. The platform files carry the file calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrine {

class FileReplacement {
public:
    FileReplacement() = default;
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    // A temporary not yet renamed is closed and removed.
    ~FileReplacement();

    // Checks that path (UTF-8) names a regular file, following symbolic links, or nothing,
    // then creates the temporary beside it. Anything else there is refused with a reason
    // naming its kind, such as "not a regular file (a FIFO)", before any file is made. A
    // symbolic link is itself replaced; the file it points to is left as it was.
    bool Begin(const std::string& path, std::string* reason);

    // Appends size bytes to the temporary. A failure removes the temporary.
    bool Write(const void* data, size_t size, std::string* reason);

    // Flushes the temporary to disk, closes it and renames it over the target. False with
    // the reason, and the temporary removed, when any step fails.
    bool Commit(std::string* reason);

private:
    // Closes the temporary, if open, and removes it.
    void Discard();

    std::string m_target;
    std::string m_temporary;  // empty while no temporary exists
    // The open temporary: a descriptor on Linux, a HANDLE on Windows; -1 when closed.
    intptr_t m_file = -1;
};

// Why a target of the given kind ("a FIFO", "a directory"...) is refused, alike on both
// platforms.
inline std::string NotARegularFile(const char* kind) { return std::string("not a regular file (") + kind + ")"; }

}  // namespace kestrine
