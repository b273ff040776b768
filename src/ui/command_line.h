// What the program makes of its command line, the same on every platform: --help and
// --version print their text on standard output and end it; otherwise its one optional
// argument names a capture file to show.
#pragma once

#include <string_view>

namespace kestrine {

// The text --help or --version prints; null for any other argument.
const char* ProgramInformation(std::string_view argument);

}  // namespace kestrine
