// UTF-8 and UTF-16 on Windows: file names and texts go to the system's W functions in
// UTF-16 and come back in UTF-8. One pair of conversions for every platform file.
#pragma once

#include <string>
#include <string_view>

namespace kestrine {

// False when utf8 is not valid UTF-8 (or too long to convert); utf16 is then empty.
bool Utf16FromUtf8(std::string_view utf8, std::wstring* utf16);
// Unpaired surrogates become U+FFFD.
std::string Utf8FromUtf16(std::wstring_view utf16);

}  // namespace kestrine
