// A Windows socket's handle, SOCKET, without the system's headers.
#pragma once

#include <cstdint>

namespace kestrine {

using SocketHandle = uintptr_t;  // SOCKET
inline constexpr SocketHandle INVALID_SOCKET_HANDLE = ~static_cast<uintptr_t>(0);

}  // namespace kestrine
