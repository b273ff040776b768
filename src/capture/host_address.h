// Resolved IPv4 socket addresses, dotted-quad parsing and the one-time socket library start.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#endif

#include <cstdint>

namespace kestrine {

// Starts the platform's socket library once per process (nothing to start on Linux).
bool StartNetworking();

// Dotted IPv4 text to a host-order value (first octet in the most significant byte).
// Runs of dots count as one separator; each part is read like "%ld" and OR-ed in unchecked,
// so an out-of-range part spills into the higher octets. 0 on failure.
uint32_t ParseDottedQuad(const char* text);

struct HostAddress {
    char m_name[128] = {};       // official name of the last successful resolution
    sockaddr_in m_sockaddr = {}; // family, port and address in network byte order
    bool m_valid = false;
    int32_t m_error = 0;         // lookup error of the last failed resolution

    // A host name or dotted address text. A dotted address without a reverse name still
    // resolves, with the dotted text as its name; "255.255.255.255" is refused before any lookup.
    bool Resolve(const char* name, uint16_t port);
    // The machine's own host name (see the platform file for loopback-mapped names).
    bool FromLocalHost(uint16_t port);
    // A host-order address, formatted as dotted text and resolved.
    bool FromInteger(uint32_t address, uint16_t port);

    // The IPv4 address in host order (0 when not resolved).
    uint32_t HostOrderAddress() const { return ntohl(m_sockaddr.sin_addr.s_addr); }
};

}  // namespace kestrine
