// A Linux socket's handle: its file descriptor.
#pragma once

namespace kestrine {

using SocketHandle = int;
inline constexpr SocketHandle INVALID_SOCKET_HANDLE = -1;

}  // namespace kestrine
