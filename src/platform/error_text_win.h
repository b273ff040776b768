// The system's message for a Windows error code, on one line, in UTF-8 ("Windows error N"
// when the system has none). Defined in file_win.cpp; for the Windows build's files only.
#pragma once

#include <string>

namespace kestrine {

std::string WindowsErrorText(unsigned long code);

}  // namespace kestrine
