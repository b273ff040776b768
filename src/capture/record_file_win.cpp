// RecordFile on Win32 file handles. A receive-all socket keeps no drop count.
#include "capture/record_file.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "common/utf16_win.h"
#include "platform/error_text_win.h"

namespace kestrine {

namespace {

// WriteFile takes a 32-bit length.
constexpr size_t LARGEST_WRITE = size_t{1} << 30;

HANDLE HandleOf(intptr_t file) { return reinterpret_cast<HANDLE>(file); }

std::string MessageOf(DWORD code) { return WindowsErrorText(code); }

}  // namespace

bool RecordFile::Create(const std::string& path, std::string* reason)
{
    Close(nullptr);
    if (path == "-") {
        HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        if (out == nullptr || out == INVALID_HANDLE_VALUE) {
            *reason = MessageOf(ERROR_INVALID_HANDLE);
            return false;
        }
        m_handle = reinterpret_cast<intptr_t>(out);
        m_standardOutput = true;
        return true;
    }
    std::wstring wide;
    if (!Utf16FromUtf8(path, &wide)) {
        *reason = MessageOf(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    // Others may read the file while it grows: a viewer follows it.
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *reason = MessageOf(GetLastError());
        return false;
    }
    m_handle = reinterpret_cast<intptr_t>(file);
    m_standardOutput = false;
    return true;
}

bool RecordFile::Write(const uint8_t* data, size_t size, size_t* written, std::string* reason)
{
    *written = 0;
    while (*written < size) {
        const DWORD part = static_cast<DWORD>(std::min(size - *written, LARGEST_WRITE));
        DWORD done = 0;
        if (!WriteFile(HandleOf(m_handle), data + *written, part, &done, nullptr)) {
            *written += done;
            *reason = MessageOf(GetLastError());
            return false;
        }
        if (done == 0) {
            *reason = MessageOf(ERROR_DISK_FULL);
            return false;
        }
        *written += done;
    }
    return true;
}

bool RecordFile::Truncate(uint64_t size)
{
    if (m_standardOutput || m_handle == -1) return false;
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(HandleOf(m_handle), at, nullptr, FILE_BEGIN) && SetEndOfFile(HandleOf(m_handle));
}

bool RecordFile::Close(std::string* reason)
{
    if (m_handle == -1) return true;
    bool closed = true;
    if (!m_standardOutput && !CloseHandle(HandleOf(m_handle))) {
        closed = false;
        if (reason) *reason = MessageOf(GetLastError());
    }
    m_handle = -1;
    m_standardOutput = false;
    return closed;
}

bool RemoveRecordFile(const std::string& path)
{
    std::wstring wide;
    if (!Utf16FromUtf8(path, &wide)) return false;
    return DeleteFileW(wide.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool TakeKernelDrops(SocketHandle, uint64_t*) { return false; }

}  // namespace kestrine
