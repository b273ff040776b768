// Windows Sockets address resolution and library start.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "capture/host_lookup.h"

namespace kestrine {

namespace {
WSADATA g_socketLibrary;
}  // namespace

bool StartNetworking() { return WSAStartup(0x0002, &g_socketLibrary) == 0; }

int LookUpHost(const char* name, in_addr* address, char (&officialName)[128])
{
    const unsigned long numeric = inet_addr(name);
    const hostent* host = numeric != INADDR_NONE
                              ? gethostbyaddr(reinterpret_cast<const char*>(&numeric), 4, AF_INET)
                              : gethostbyname(name);
    if (host && host->h_addrtype == AF_INET && host->h_length == 4 && host->h_addr_list[0]) {
        CopyHostName(officialName, host->h_name);
        std::memcpy(address, host->h_addr_list[0], 4);  // never more than the 4 bytes of the field
        return 0;
    }
    if (numeric == INADDR_NONE) {
        const int error = WSAGetLastError();
        return error != 0 ? error : WSANO_DATA;
    }
    // A dotted address without a reverse name is still known: keep it, named by its text.
    CopyHostName(officialName, name);
    address->s_addr = numeric;
    return 0;
}

void LocalHostName(char (&name)[256])
{
    if (gethostname(name, sizeof name) != 0) name[0] = '\0';
}

in_addr PreferredLocalAddress(in_addr resolved) { return resolved; }

}  // namespace kestrine
