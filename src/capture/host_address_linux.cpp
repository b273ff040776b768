// Linux address resolution with the thread-safe getaddrinfo/getnameinfo.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "capture/host_lookup.h"

namespace kestrine {

bool StartNetworking() { return true; }

namespace {

// Name of the interface that carries the IPv4 default route, "" when none.
std::string DefaultRouteInterface()
{
    FILE* routes = std::fopen("/proc/net/route", "r");
    if (!routes) return {};
    char line[256];
    std::string result;
    while (result.empty() && std::fgets(line, sizeof line, routes)) {
        char name[IF_NAMESIZE + 1] = {};
        unsigned destination = 1, gateway = 0, flags = 0;
        if (std::sscanf(line, "%16s %x %x %x", name, &destination, &gateway, &flags) == 4 && destination == 0 &&
            (flags & 1u) != 0)  // RTF_UP
            result = name;
    }
    std::fclose(routes);
    return result;
}

// IPv4 address (network order) of an up, non-loopback interface: the default route's
// interface if it has one, else the first; 0 when there is none.
in_addr_t NetworkInterfaceAddress()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    const std::string preferred = DefaultRouteInterface();
    in_addr_t first = 0, chosen = 0;
    for (ifaddrs* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
        if ((it->ifa_flags & IFF_UP) == 0 || (it->ifa_flags & IFF_LOOPBACK) != 0) continue;
        const in_addr_t address = reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr;
        if (first == 0) first = address;
        if (chosen == 0 && preferred == it->ifa_name) chosen = address;
    }
    freeifaddrs(list);
    return chosen != 0 ? chosen : first;
}

}  // namespace

int LookUpHost(const char* name, in_addr* address, char (&officialName)[128])
{
    const in_addr_t numeric = inet_addr(name);
    if (numeric != INADDR_NONE) {
        // A dotted address is known without a lookup; the reverse lookup only supplies a name.
        sockaddr_in probe{};
        probe.sin_family = AF_INET;
        probe.sin_addr.s_addr = numeric;
        char host[NI_MAXHOST];
        const bool named = getnameinfo(reinterpret_cast<sockaddr*>(&probe), sizeof probe, host, sizeof host,
                                       nullptr, 0, NI_NAMEREQD) == 0;
        CopyHostName(officialName, named ? host : name);
        address->s_addr = numeric;
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    const int error = getaddrinfo(name, nullptr, &hints, &found);
    if (error != 0 || !found) return error != 0 ? error : EAI_NONAME;
    CopyHostName(officialName, found->ai_canonname ? found->ai_canonname : name);
    *address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return 0;
}

void LocalHostName(char (&name)[256])
{
    if (gethostname(name, sizeof name - 1) != 0) name[0] = '\0';
    name[sizeof name - 1] = '\0';
}

// Debian-like systems map the host's own name to a loopback address; capturing there by
// default would see only local traffic. So a loopback answer is replaced by the address of
// the network interface that carries the default route (else the first one that is up).
in_addr PreferredLocalAddress(in_addr resolved)
{
    if ((ntohl(resolved.s_addr) >> 24) != 127) return resolved;
    const in_addr_t network = NetworkInterfaceAddress();
    if (network != 0) resolved.s_addr = network;
    return resolved;
}

}  // namespace kestrine
