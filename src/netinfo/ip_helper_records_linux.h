// The adapter records on Linux, laid out as the IP Helper's are, so that the Linux provider
// and the code that reads them serve both platforms.
#pragma once

#include <cstdint>

namespace kestrine {

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

// No calling convention of its own.
#define KESTRINE_IPHLP_CALL

}  // namespace kestrine
