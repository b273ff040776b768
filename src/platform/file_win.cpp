// The file calls on Windows: CreateFileW and a read-only file mapping, the C stream for
// reading in sequence, and a new file beside the target, FlushFileBuffers and ReplaceFileW
// (which keeps the target's attributes and security) or MoveFileExW for a new one; see
// file.h. Paths arrive in UTF-8 and go to the W functions in UTF-16.
#include "platform/file.h"
#include "platform/error_text_win.h"

#include "common/utf16_win.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace kestrine {

namespace {

// Names already taken before giving up: each try draws a new one.
constexpr int TEMPORARY_TRIES = 100;
// WriteFile takes a 32-bit length.
constexpr size_t LARGEST_WRITE = size_t{1} << 30;

HANDLE HandleOf(intptr_t file) { return reinterpret_cast<HANDLE>(file); }

std::string MessageOf(DWORD code) { return WindowsErrorText(code); }

std::string InvalidPath() { return MessageOf(ERROR_NO_UNICODE_TRANSLATION); }

// The kind of what an open handle names.
bool KindOfHandle(HANDLE file, FileKind* kind, std::string* reason)
{
    *kind = FileKind::Regular;
    switch (GetFileType(file)) {
    case FILE_TYPE_DISK: {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(file, &info)) {
            *reason = MessageOf(GetLastError());
            return false;
        }
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) *kind = FileKind::Directory;
        return true;
    }
    case FILE_TYPE_CHAR: *kind = FileKind::CharacterDevice; return true;
    case FILE_TYPE_PIPE: *kind = FileKind::Pipe; return true;
    default: *kind = FileKind::Other; return true;
    }
}

// What path names, links followed: exists false when nothing; false with the reason when
// it cannot be told.
bool KindOf(const std::wstring& path, bool* exists, FileKind* kind, std::string* reason)
{
    *exists = false;
    // No access asked: enough to learn the type without reading, writing or locking it.
    // BACKUP_SEMANTICS lets a directory be opened too.
    const HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A missing folder is reported when the temporary cannot be made there.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
        *reason = MessageOf(error);
        return false;
    }
    *exists = true;
    const bool known = KindOfHandle(file, kind, reason);
    CloseHandle(file);
    return known;
}

// The C library's words for the common failures to open, so that a reason reads alike on
// both platforms; the system's message for the rest.
std::string OpenFailure(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return std::strerror(ENOENT);
    case ERROR_ACCESS_DENIED: return std::strerror(EACCES);
    default: return MessageOf(error);
    }
}

FileIdentity IdentityOfHandle(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return {};
    return FileIdentity{true, info.dwVolumeSerialNumber,
                        uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
}

// A random part for the temporary's name that another save running at the same moment
// will not draw.
std::string RandomPart()
{
    static std::atomic<uint32_t> drawn{0};
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    uint64_t mix = static_cast<uint64_t>(counter.QuadPart) ^ (uint64_t{GetCurrentProcessId()} << 32) ^
                   (uint64_t{drawn.fetch_add(1)} * 0x9E3779B97F4A7C15u);
    mix ^= mix >> 29;
    mix *= 0xBF58476D1CE4E5B9u;
    mix ^= mix >> 32;
    char suffix[9];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned int>(mix));
    return suffix;
}

constexpr size_t RANDOM_CHARACTERS = 8;

}  // namespace

FileReplacement::~FileReplacement() { Discard(); }

bool FileReplacement::Begin(const std::string& path, std::string* reason)
{
    Discard();
    std::wstring wide;
    if (!Utf16FromUtf8(path, &wide)) {
        *reason = InvalidPath();
        return false;
    }
    bool exists = false;
    FileKind kind = FileKind::Regular;
    if (!KindOf(wide, &exists, &kind, reason)) return false;
    if (exists && kind != FileKind::Regular) {
        *reason = NotARegularFile(kind);
        return false;
    }
    m_targetExists = exists;
    // The folder part ends at the last separator, or at the drive's colon ("C:name").
    const size_t cut = path.find_last_of("/\\:");
    const std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    const std::string start = folder + TemporaryName(path.substr(folder.size()), RANDOM_CHARACTERS);
    for (int attempt = 0; attempt < TEMPORARY_TRIES; ++attempt) {
        const std::string name = start + RandomPart();
        std::wstring wideName;
        if (!Utf16FromUtf8(name, &wideName)) {
            *reason = InvalidPath();
            return false;
        }
        const HANDLE file = CreateFileW(wideName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                        nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            m_target = path;
            m_temporary = name;
            m_file = reinterpret_cast<intptr_t>(file);
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            *reason = MessageOf(error);
            return false;
        }
    }
    *reason = MessageOf(ERROR_FILE_EXISTS);
    return false;
}

bool FileReplacement::Write(const void* data, size_t size, std::string* reason)
{
    if (m_file == -1) {
        *reason = MessageOf(ERROR_INVALID_HANDLE);
        return false;
    }
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD part = static_cast<DWORD>(size < LARGEST_WRITE ? size : LARGEST_WRITE);
        DWORD written = 0;
        DWORD failure = ERROR_SUCCESS;
        if (!WriteFile(HandleOf(m_file), at, part, &written, nullptr))
            failure = GetLastError();
        else if (written == 0)
            failure = ERROR_DISK_FULL;  // a disk file takes nothing only when it cannot grow
        if (failure != ERROR_SUCCESS) {
            *reason = MessageOf(failure);
            Discard();
            return false;
        }
        at += written;
        size -= written;
    }
    return true;
}

bool FileReplacement::Commit(std::string* reason)
{
    if (m_file == -1) {
        *reason = MessageOf(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD failure = ERROR_SUCCESS;
    if (!FlushFileBuffers(HandleOf(m_file))) failure = GetLastError();
    if (!CloseHandle(HandleOf(m_file)) && failure == ERROR_SUCCESS) failure = GetLastError();
    m_file = -1;
    std::wstring from, to;
    if (failure == ERROR_SUCCESS) {
        if (!Utf16FromUtf8(m_temporary, &from) || !Utf16FromUtf8(m_target, &to))
            failure = ERROR_NO_UNICODE_TRANSLATION;
        else if (m_targetExists ? !ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                                                REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                                                nullptr, nullptr)
                                : !MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            failure = GetLastError();
    }
    if (failure != ERROR_SUCCESS) {
        *reason = MessageOf(failure);
        Discard();
        return false;
    }
    m_temporary.clear();
    return true;
}

void FileReplacement::Discard()
{
    if (m_file != -1) CloseHandle(HandleOf(m_file));
    m_file = -1;
    std::wstring name;
    if (!m_temporary.empty() && Utf16FromUtf8(m_temporary, &name)) DeleteFileW(name.c_str());
    m_temporary.clear();
}

FileIdentity IdentityOf(const std::string& path)
{
    std::wstring wide;
    if (!Utf16FromUtf8(path, &wide) || wide.empty()) return {};
    // OPEN_REPARSE_POINT: a link itself, which is what a replacement replaces.
    const HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    const FileIdentity identity = IdentityOfHandle(file);
    CloseHandle(file);
    return identity;
}

bool MappedFile::Open(const std::string& path, std::string* reason)
{
    Close();
    std::wstring wide;
    if (!Utf16FromUtf8(path, &wide) || wide.empty()) {
        *reason = InvalidPath();
        return false;
    }
    // Others may go on reading, writing, renaming and deleting it; BACKUP_SEMANTICS opens a
    // folder too, to be refused by its type. A pipe without a server fails at once.
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *reason = OpenFailure(GetLastError());
        return false;
    }
    FileKind kind = FileKind::Regular;
    LARGE_INTEGER size{};
    bool ok = KindOfHandle(file, &kind, reason);
    if (ok && kind != FileKind::Regular) {
        *reason = NotOpenableReason(kind);
        ok = false;
    } else if (ok && !GetFileSizeEx(file, &size)) {
        *reason = MessageOf(GetLastError());
        ok = false;
    } else if (ok && static_cast<uint64_t>(size.QuadPart) > SIZE_MAX / 2) {
        *reason = "the file is too large to map";
        ok = false;
    }
    if (ok) m_identity = IdentityOfHandle(file);
    if (ok && size.QuadPart > 0) {
        // The mapping holds the file open; the handle is not needed after it.
        const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
        if (!view) {
            *reason = MessageOf(GetLastError());
            ok = false;
        } else {
            m_data = static_cast<const uint8_t*>(view);
            m_size = static_cast<size_t>(size.QuadPart);
        }
        if (mapping) CloseHandle(mapping);
    }
    CloseHandle(file);
    if (!ok) m_identity = {};
    return ok;
}

void MappedFile::Close()
{
    if (m_data) UnmapViewOfFile(m_data);
    m_data = nullptr;
    m_size = 0;
    m_identity = {};
}

// Windows refuses to truncate a file while a view of it is mapped.
bool MappedFile::Shrank() const { return false; }

void MappedFile::ExpectSequentialReading(bool) const {}

bool InputFile::Open(const std::string& path, std::string* reason)
{
    Close();
    if (path == "-") {
        _setmode(_fileno(stdin), _O_BINARY);
        m_stream = stdin;
        m_standardInput = true;
        return true;
    }
    std::wstring wide;
    if (!Utf16FromUtf8(path, &wide) || wide.empty()) {
        *reason = std::strerror(EINVAL);
        return false;
    }
    bool exists = false;
    FileKind kind = FileKind::Regular;
    std::string ignored;
    // The C library says "Permission denied" for a folder; the reason is the same as on Linux.
    if (KindOf(wide, &exists, &kind, &ignored) && exists && kind == FileKind::Directory) {
        *reason = NotOpenableReason(kind);
        return false;
    }
    FILE* file = _wfopen(wide.c_str(), L"rb");
    if (!file) {
        *reason = std::strerror(errno);
        return false;
    }
    m_stream = file;
    return true;
}

std::string WindowsErrorText(unsigned long code)
{
    wchar_t* text = nullptr;
    // MAX_WIDTH_MASK joins the message's lines into one.
    const DWORD units = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                           FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = units > 0 ? Utf8FromUtf16(std::wstring_view(text, units)) : std::string();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == ' ' || message.back() == '\r' || message.back() == '\n'))
        message.pop_back();
    if (message.empty()) message = "Windows error " + std::to_string(code);
    return message;
}

}  // namespace kestrine
