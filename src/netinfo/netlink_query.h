// The links and IPv4 addresses of the current network namespace, as rtnetlink dumps them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrine {

inline constexpr uint32_t INFINITE_LIFETIME = 0xFFFFFFFFu;

struct NetlinkLink {
    uint32_t index = 0;
    std::string name;
    std::vector<uint8_t> hardwareAddress;  // at most 8 bytes
    unsigned type = 0;                     // ARPHRD_* value
};

struct NetlinkAddress {
    uint32_t index = 0;      // of the link
    uint8_t octets[4] = {};  // network order
    unsigned prefix = 0;     // 0 to 32
    uint32_t validLifetime = INFINITE_LIFETIME;  // seconds
    uint32_t createdHundredths = 0;              // since boot
};

// The links the dump delivered, in interface-index order.
std::vector<NetlinkLink> ReadNetlinkLinks();
// The IPv4 addresses the dump delivered, in the kernel's order.
std::vector<NetlinkAddress> ReadNetlinkAddresses();

}  // namespace kestrine
