// Windows Sockets address resolution and library start.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "capture/host_address.h"

namespace kestrine {

namespace {
WSADATA g_socketLibrary;

void CopyName(char (&target)[128], const char* name)
{
    const size_t n = strnlen(name, sizeof target - 1);
    std::memcpy(target, name, n);
    target[n] = '\0';
}
}  // namespace

bool StartNetworking() { return WSAStartup(0x0002, &g_socketLibrary) == 0; }

bool HostAddress::Resolve(const char* name, uint16_t port)
{
    if (std::strcmp(name, "255.255.255.255") == 0) {
        m_valid = false;
        return false;
    }
    std::memset(&m_sockaddr, 0, sizeof m_sockaddr);
    const unsigned long numeric = inet_addr(name);
    const hostent* host = numeric != INADDR_NONE
                              ? gethostbyaddr(reinterpret_cast<const char*>(&numeric), 4, AF_INET)
                              : gethostbyname(name);
    if (!host && numeric == INADDR_NONE) {
        m_error = WSAGetLastError();
        m_valid = false;
        return false;
    }
    if (host) {
        CopyName(m_name, host->h_name);
        std::memcpy(&m_sockaddr.sin_addr, host->h_addr_list[0], static_cast<size_t>(host->h_length));
        m_sockaddr.sin_family = static_cast<short>(host->h_addrtype);
    } else {
        // A dotted address without a reverse name is still known: keep it, named by its text.
        CopyName(m_name, name);
        m_sockaddr.sin_addr.s_addr = numeric;
        m_sockaddr.sin_family = AF_INET;
    }
    m_sockaddr.sin_port = htons(port);
    m_valid = true;
    return true;
}

bool HostAddress::FromLocalHost(uint16_t port)
{
    char name[256] = {};
    if (gethostname(name, sizeof name) != 0) name[0] = '\0';
    return Resolve(name, port);
}

}  // namespace kestrine
