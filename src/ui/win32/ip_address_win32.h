// Typing into the common controls' IP address control as into the Qt one.
#pragma once

#include <windows.h>

namespace kestrine {

// Makes a dotted address typed over a filled control give exactly that address: a field
// that a full field moved on to by itself has its text selected, so the next digits replace
// it (Wine's control leaves the caret at its start, and "192.168.1.77" typed over 127.0.0.1
// gave 192.160.1.77), and a '.' or blank typed right after such a move is dropped, since
// the field it ended has moved on already. Windows' own control selects the field too; the
// rest of its keys are left to it.
void FollowDottedTyping(HWND ipAddress);

}  // namespace kestrine
