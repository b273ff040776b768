// Portable parts of address handling: resolution rules, dotted-quad parsing and formatting.
#include "capture/host_address.h"

#include "capture/host_lookup.h"
#include "common/text_format.h"

#include <cstdlib>
#include <cstring>

namespace kestrine {

uint32_t ParseDottedQuad(const char* text)
{
    if (!text) return 0;
    char copy[61] = {};
    std::strncpy(copy, text, 60);

    long parts[4];
    int found = 0;
    char* cursor = copy;
    while (found < 4) {
        while (*cursor == '.') ++cursor;  // runs of dots are one separator; no empty parts
        if (*cursor == '\0') return 0;
        char* end = std::strchr(cursor, '.');
        if (end) *end = '\0';
        char* digitsEnd = nullptr;  // "%ld" semantics, without its undefined overflow
        const long value = std::strtol(cursor, &digitsEnd, 10);
        if (digitsEnd == cursor) return 0;
        parts[found++] = value;
        if (!end) break;
        cursor = end + 1;
    }
    if (found < 4) return 0;
    uint32_t v = static_cast<uint32_t>(parts[0]);
    for (int i = 1; i < 4; ++i) v = (v << 8) | static_cast<uint32_t>(parts[i]);
    return v;
}

void CopyHostName(char (&target)[128], const char* name)
{
    const size_t n = strnlen(name, sizeof target - 1);
    std::memcpy(target, name, n);
    target[n] = '\0';
}

bool HostAddress::Resolve(const char* name, uint16_t port)
{
    // The platform's text-to-address call gives all ones for this text as for no address.
    if (std::strcmp(name, "255.255.255.255") == 0) {
        m_valid = false;
        return false;
    }
    std::memset(&m_sockaddr, 0, sizeof m_sockaddr);
    in_addr address{};
    const int error = LookUpHost(name, &address, m_name);
    if (error != 0) {
        m_error = error;
        m_valid = false;
        return false;
    }
    m_sockaddr.sin_family = AF_INET;
    m_sockaddr.sin_port = htons(port);
    m_sockaddr.sin_addr = address;
    m_valid = true;
    return true;
}

bool HostAddress::FromLocalHost(uint16_t port)
{
    char name[256] = {};
    LocalHostName(name);
    if (!Resolve(name, port)) return false;
    m_sockaddr.sin_addr = PreferredLocalAddress(m_sockaddr.sin_addr);
    return true;
}

bool HostAddress::FromInteger(uint32_t address, uint16_t port)
{
    char text[DOTTED_QUAD_SIZE];
    FormatDottedQuad(address, text);
    return Resolve(text, port);
}

}  // namespace kestrine
