// Run-time binding to the adapter query service and its two queries, each with a buffer
// that grows on demand and is reused by the next query of its kind. The records are laid
// out by the provider in the caller's buffer, as the platform's IP Helper does.
#pragma once

#include <cstdint>

namespace kestrine {

inline constexpr uint32_t IPHLP_NO_ERROR = 0;
inline constexpr uint32_t IPHLP_BUFFER_OVERFLOW = 111;
inline constexpr uint32_t IPHLP_NO_DATA = 232;

#ifdef _WIN32
}  // namespace kestrine
#include <winsock2.h>
#include <iphlpapi.h>
namespace kestrine {
// The platform's own records, laid out by the platform's library.
using ::IP_ADAPTER_INFO;
using ::IP_ADDR_STRING;
using ::IP_PER_ADAPTER_INFO;
using IpHelperSize = ULONG;
#else
using IpHelperSize = uint32_t;

inline constexpr int ADAPTER_NAME_CHARS = 260;         // including the terminator
inline constexpr int ADAPTER_DESCRIPTION_CHARS = 132;  // including the terminator
inline constexpr int ADAPTER_ADDRESS_BYTES = 8;

struct IP_ADDRESS_STRING {
    char String[16];  // dotted text, terminated
};
using IP_MASK_STRING = IP_ADDRESS_STRING;

struct IP_ADDR_STRING {
    IP_ADDR_STRING* Next;
    IP_ADDRESS_STRING IpAddress;
    IP_MASK_STRING IpMask;
};

struct IP_ADAPTER_INFO {
    IP_ADAPTER_INFO* Next;
    char AdapterName[ADAPTER_NAME_CHARS];
    char Description[ADAPTER_DESCRIPTION_CHARS];
    uint32_t AddressLength;
    uint8_t Address[ADAPTER_ADDRESS_BYTES];
    uint32_t Index;
    uint32_t Type;
    uint32_t DhcpEnabled;
    IP_ADDR_STRING IpAddressList;  // first entry inside the record, further ones in the buffer
    IP_ADDR_STRING DhcpServer;
    int64_t LeaseObtained;  // seconds since 1970
    int64_t LeaseExpires;
};

struct IP_PER_ADAPTER_INFO {
    IP_ADDR_STRING DnsServerList;  // first entry inside the record, further ones in the buffer
};
#endif

// The provider's contract: 0 when the records fit into *size bytes at buffer, 111 with the
// needed size stored when they do not, another code when there is no data.
#ifdef _WIN32
#define KESTRINE_IPHLP_CALL WINAPI
#else
#define KESTRINE_IPHLP_CALL
#endif
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
