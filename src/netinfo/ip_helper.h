// Run-time binding to the adapter query service and its two queries, each with a buffer
// that grows on demand and is reused by the next query of its kind. The records are laid
// out by the provider in the caller's buffer, as the platform's IP Helper does.
#pragma once

#include <cstdint>

// The records: the platform library's own on Windows, the same layout on Linux.
#ifdef _WIN32
#include "netinfo/ip_helper_records_win.h"
#else
#include "netinfo/ip_helper_records_linux.h"
#endif

namespace kestrine {

inline constexpr uint32_t IPHLP_NO_ERROR = 0;
inline constexpr uint32_t IPHLP_BUFFER_OVERFLOW = 111;
inline constexpr uint32_t IPHLP_NO_DATA = 232;

// The provider's contract: 0 when the records fit into *size bytes at buffer, 111 with the
// needed size stored when they do not, another code when there is no data.
using GetAdaptersInfoFunction = IpHelperSize(KESTRINE_IPHLP_CALL*)(IP_ADAPTER_INFO* buffer, IpHelperSize* size);
using GetPerAdapterInfoFunction = IpHelperSize(KESTRINE_IPHLP_CALL*)(IpHelperSize index, IP_PER_ADAPTER_INFO* buffer,
                                                                     IpHelperSize* size);

struct IpHelperLibrary {
    GetAdaptersInfoFunction getAdaptersInfo = nullptr;  // null when the library lacks it
    GetPerAdapterInfoFunction getPerAdapterInfo = nullptr;
};

// Loads the library once; true when loaded. A failed load is tried again at the next call.
bool LoadIpHelper();
// The first adapter record, or null. Valid until the next adapter query.
IP_ADAPTER_INFO* QueryAdaptersInfo();
// The per-adapter record of the adapter with that interface index, or null. Valid until
// the next per-adapter query.
IP_PER_ADAPTER_INFO* QueryPerAdapterInfo(uint32_t adapterIndex);

// How the library is loaded: fills the entry points, false when the library is missing.
// The platform's loader is the default; tests put their own in place. Setting a loader
// unloads the binding and releases its buffers. nullptr restores the platform's loader.
using IpHelperLoader = bool (*)(IpHelperLibrary* library);
void SetIpHelperLoader(IpHelperLoader loader);
bool LoadPlatformIpHelper(IpHelperLibrary* library);

}  // namespace kestrine
