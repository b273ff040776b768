// Replacing a file on Windows: a new file beside the target, FlushFileBuffers, MoveFileExW;
// see replace_file.h. Paths arrive in UTF-8 and go to the W functions in UTF-16.
#include "capture_file/replace_file.h"

#include "common/utf16_win.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrine {

namespace {

constexpr const char* TEMPORARY_PREFIX = ".kestrine-save-";
// Names already taken before giving up: each try draws a new one.
constexpr int TEMPORARY_TRIES = 100;
// WriteFile takes a 32-bit length.
constexpr size_t LARGEST_WRITE = size_t{1} << 30;

HANDLE HandleOf(intptr_t file) { return reinterpret_cast<HANDLE>(file); }

// The system's message for an error code, on one line, in UTF-8.
std::string MessageOf(DWORD code)
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

std::string InvalidPath() { return MessageOf(ERROR_NO_UNICODE_TRANSLATION); }

// What path names, links followed, when that is not a regular file: "a directory"... Empty
// when it is a regular file or nothing; false with the reason when it cannot be told.
bool KindOf(const std::wstring& path, std::string* kind, std::string* reason)
{
    kind->clear();
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
    bool known = true;
    switch (GetFileType(file)) {
    case FILE_TYPE_DISK: {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(file, &info)) {
            *reason = MessageOf(GetLastError());
            known = false;
        } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            *kind = "a directory";
        }
        break;
    }
    case FILE_TYPE_CHAR: *kind = "a character device"; break;
    case FILE_TYPE_PIPE: *kind = "a pipe"; break;
    default: *kind = "an unknown kind of file"; break;
    }
    CloseHandle(file);
    return known;
}

// A name for the temporary that another save running at the same moment will not draw.
std::string TemporaryName(const std::string& folder)
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
    return folder + TEMPORARY_PREFIX + suffix;
}

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
    std::string kind;
    if (!KindOf(wide, &kind, reason)) return false;
    if (!kind.empty()) {
        *reason = NotARegularFile(kind.c_str());
        return false;
    }
    // The folder part ends at the last separator, or at the drive's colon ("C:name").
    const size_t cut = path.find_last_of("/\\:");
    const std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    for (int attempt = 0; attempt < TEMPORARY_TRIES; ++attempt) {
        const std::string name = TemporaryName(folder);
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
        else if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
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

}  // namespace kestrine
