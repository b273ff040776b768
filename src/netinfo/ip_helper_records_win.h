// The adapter records of the IP Helper on Windows: the platform library's own.
#pragma once

#include <winsock2.h>
#include <iphlpapi.h>

namespace kestrine {

// The platform's own records, laid out by the platform's library.
using ::IP_ADAPTER_INFO;
using ::IP_ADDR_STRING;
using ::IP_PER_ADAPTER_INFO;
using IpHelperSize = ULONG;
// The library's calling convention.
#define KESTRINE_IPHLP_CALL WINAPI

}  // namespace kestrine
