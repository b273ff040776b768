// The conversions through the system's code-page functions.
#include "common/utf16_win.h"

#include <windows.h>

#include <climits>

namespace kestrine {

bool Utf16FromUtf8(std::string_view utf8, std::wstring* utf16)
{
    utf16->clear();
    if (utf8.empty()) return true;
    if (utf8.size() > INT_MAX) return false;
    const int length = static_cast<int>(utf8.size());
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
    if (units <= 0) return false;
    utf16->resize(static_cast<size_t>(units));
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, utf16->data(), units) == units) return true;
    utf16->clear();
    return false;
}

std::string Utf8FromUtf16(std::wstring_view utf16)
{
    if (utf16.empty() || utf16.size() > INT_MAX) return {};
    const int length = static_cast<int>(utf16.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

}  // namespace kestrine
