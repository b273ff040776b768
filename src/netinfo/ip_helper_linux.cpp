// The adapter query service on Linux: a built-in provider with the IP Helper contract that
// reads links and IPv4 addresses from rtnetlink, descriptions from the driver and the
// device database, DHCP servers from lease files and DNS servers from the resolver, fresh
// at every query.
// glibc's <net/if.h> must come before the kernel headers, which then skip their copies.
#include <net/if.h>
#include <net/if_arp.h>
//
#include <arpa/inet.h>
#include <dirent.h>
#include <linux/ethtool.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "netinfo/adapter_records.h"
#include "netinfo/ip_helper.h"

namespace kestrine {

namespace {

constexpr uint32_t INFINITE_LIFETIME = 0xFFFFFFFFu;

std::string ReadFile(const std::string& path, size_t limit = 1 << 20)
{
    std::string text;
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return text;
    char chunk[4096];
    size_t n;
    while (text.size() < limit && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    std::fclose(f);
    return text;
}

bool Exists(const std::string& path)
{
    struct stat s {};
    return stat(path.c_str(), &s) == 0;
}

struct Link {
    uint32_t index = 0;
    std::string name;
    std::vector<uint8_t> hardwareAddress;
    unsigned type = 0;
};

struct Address {
    uint32_t index = 0;
    in_addr address{};
    unsigned prefix = 0;
    uint32_t validLifetime = INFINITE_LIFETIME;
    uint32_t createdHundredths = 0;  // since boot
};

// Sends one dump request and hands every answer message to visit; false on any failure.
template <typename Visit>
bool NetlinkDump(uint16_t type, Visit visit)
{
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return false;
    struct {
        nlmsghdr header;
        union {
            ifinfomsg link;
            ifaddrmsg address;
        };
    } request{};
    const bool links = type == RTM_GETLINK;
    request.header.nlmsg_len = NLMSG_LENGTH(links ? sizeof(ifinfomsg) : sizeof(ifaddrmsg));
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    if (links) request.link.ifi_family = AF_UNSPEC;
    else request.address.ifa_family = AF_INET;
    bool ok = send(fd, &request, request.header.nlmsg_len, 0) == static_cast<ssize_t>(request.header.nlmsg_len);
    std::vector<uint8_t> buffer(64 * 1024);
    for (bool done = !ok; !done;) {
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) {
            ok = false;
            break;
        }
        int left = static_cast<int>(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE) {
                done = true;
                break;
            }
            if (h->nlmsg_type == NLMSG_ERROR) {
                ok = false;
                done = true;
                break;
            }
            visit(h);
        }
    }
    close(fd);
    return ok;
}

std::vector<Link> ReadLinks()
{
    std::vector<Link> links;
    NetlinkDump(RTM_GETLINK, [&](nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWLINK || h->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) return;
        auto* info = static_cast<ifinfomsg*>(NLMSG_DATA(h));
        Link link;
        link.index = static_cast<uint32_t>(info->ifi_index);
        link.type = info->ifi_type;
        int length = static_cast<int>(IFLA_PAYLOAD(h));
        for (auto* a = IFLA_RTA(info); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
            const auto* data = static_cast<const uint8_t*>(RTA_DATA(a));
            const size_t size = RTA_PAYLOAD(a);
            if (a->rta_type == IFLA_IFNAME) link.name.assign(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
            if (a->rta_type == IFLA_ADDRESS) link.hardwareAddress.assign(data, data + std::min<size_t>(size, 8));
        }
        links.push_back(std::move(link));
    });
    std::sort(links.begin(), links.end(), [](const Link& a, const Link& b) { return a.index < b.index; });
    return links;
}

std::vector<Address> ReadAddresses()
{
    std::vector<Address> addresses;
    NetlinkDump(RTM_GETADDR, [&](nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWADDR || h->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) return;
        auto* info = static_cast<ifaddrmsg*>(NLMSG_DATA(h));
        if (info->ifa_family != AF_INET) return;
        Address address;
        address.index = info->ifa_index;
        address.prefix = std::min<unsigned>(info->ifa_prefixlen, 32);
        bool haveLocal = false, haveAny = false;
        int length = static_cast<int>(IFA_PAYLOAD(h));
        for (auto* a = IFA_RTA(info); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
            if ((a->rta_type == IFA_LOCAL || (a->rta_type == IFA_ADDRESS && !haveLocal)) && RTA_PAYLOAD(a) >= 4) {
                std::memcpy(&address.address, RTA_DATA(a), 4);
                haveLocal = haveLocal || a->rta_type == IFA_LOCAL;
                haveAny = true;
            } else if (a->rta_type == IFA_CACHEINFO && RTA_PAYLOAD(a) >= sizeof(ifa_cacheinfo)) {
                ifa_cacheinfo cache{};
                std::memcpy(&cache, RTA_DATA(a), sizeof cache);
                address.validLifetime = cache.ifa_valid;
                address.createdHundredths = cache.cstamp;
            }
        }
        if (haveAny) addresses.push_back(address);
    });
    return addresses;
}

// Files under /sys and /run describe the namespace they were mounted in; they are used
// only when they agree on the interface's index, so a private namespace never borrows
// another interface's description or lease.
bool SystemFilesDescribe(const Link& link)
{
    const std::string text = ReadFile("/sys/class/net/" + link.name + "/ifindex", 64);
    return !text.empty() && static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10)) == link.index;
}

// A value of the device database ("E:KEY=value" lines), "" when absent.
std::string DatabaseValue(const std::string& text, const std::string& key)
{
    const std::string prefix = "E:" + key + "=";
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (text.compare(start, prefix.size(), prefix) == 0)
            return text.substr(start + prefix.size(), end - start - prefix.size());
        start = end + 1;
    }
    return {};
}

std::string DriverOf(const Link& link, bool systemFiles)
{
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    ifreq request{};
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "%s", link.name.c_str());
    request.ifr_data = reinterpret_cast<char*>(&info);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    std::string driver;
    if (fd >= 0 && ioctl(fd, SIOCETHTOOL, &request) == 0) driver.assign(info.driver, strnlen(info.driver, sizeof info.driver));
    if (fd >= 0) close(fd);
    if (driver.empty() && systemFiles) {
        char target[256] = {};
        const ssize_t n = readlink(("/sys/class/net/" + link.name + "/device/driver").c_str(), target, sizeof target - 1);
        if (n > 0) {
            const std::string path(target, static_cast<size_t>(n));
            driver = path.substr(path.rfind('/') + 1);
        }
    }
    return driver;
}

std::string DhcpServerOf(const Link& link)
{
    std::string server = NetworkdLeaseServer(ReadFile("/run/systemd/netif/leases/" + std::to_string(link.index)));
    if (!server.empty()) return server;
    for (const char* directory : {"/var/lib/dhcp", "/var/lib/dhclient", "/var/lib/NetworkManager"}) {
        DIR* d = opendir(directory);
        if (!d) continue;
        while (dirent* entry = readdir(d)) {
            const std::string file = entry->d_name;
            if (file.find(".lease") == std::string::npos) continue;
            const std::string text = ReadFile(std::string(directory) + "/" + file);
            std::string found = DhclientLeaseServer(text, link.name);
            // NetworkManager's own client names the interface in the file name only.
            const std::string suffix = "-" + link.name + ".lease";
            if (found.empty() && file.size() > suffix.size() && file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0)
                found = NetworkdLeaseServer(text);
            if (!found.empty()) server = found;
        }
        closedir(d);
        if (!server.empty()) break;
    }
    return server.empty() ? "0.0.0.0" : server;
}

std::string MaskText(unsigned prefix)
{
    const uint32_t mask = prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", mask >> 24, (mask >> 16) & 0xFF, (mask >> 8) & 0xFF, mask & 0xFF);
    return text;
}

std::vector<AdapterData> ReadAdapters()
{
    const std::vector<Link> links = ReadLinks();
    const std::vector<Address> addresses = ReadAddresses();
    timespec now{}, sinceBoot{};
    clock_gettime(CLOCK_REALTIME, &now);
    clock_gettime(CLOCK_MONOTONIC, &sinceBoot);

    std::vector<AdapterData> adapters;
    for (const Link& link : links) {
        AdapterData a;
        a.index = link.index;
        a.name = link.name;
        a.hardwareAddress = link.hardwareAddress;
        const bool systemFiles = SystemFilesDescribe(link);
        const std::string sysfs = "/sys/class/net/" + link.name;
        const bool wireless = systemFiles && (Exists(sysfs + "/wireless") || Exists(sysfs + "/phy80211"));
        a.type = InterfaceTypeOfLink(link.type, wireless);
        std::string vendor, model;
        if (systemFiles) {
            const std::string database = ReadFile("/run/udev/data/n" + std::to_string(link.index), 64 * 1024);
            vendor = DatabaseValue(database, "ID_VENDOR_FROM_DATABASE");
            model = DatabaseValue(database, "ID_MODEL_FROM_DATABASE");
        }
        a.description = ComposeDescription(vendor, model, DriverOf(link, systemFiles), link.name);

        for (const Address& address : addresses) {
            if (address.index != link.index) continue;
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &address.address, text, sizeof text);
            a.addresses.push_back({text, MaskText(address.prefix)});
            if (address.validLifetime != INFINITE_LIFETIME && !a.dhcpEnabled) {
                // Dynamic: the kernel will drop it when its lease runs out.
                a.dhcpEnabled = true;
                const double age = static_cast<double>(sinceBoot.tv_sec) - address.createdHundredths / 100.0;
                a.leaseObtained = static_cast<int64_t>(static_cast<double>(now.tv_sec) - std::max(age, 0.0));
                a.leaseExpires = static_cast<int64_t>(now.tv_sec) + address.validLifetime;
            }
        }
        if (a.dhcpEnabled && systemFiles) a.dhcpServer = DhcpServerOf(link);
        adapters.push_back(std::move(a));
    }
    return adapters;
}

std::vector<std::string> DnsServersOf(uint32_t index)
{
    std::vector<Link> links = ReadLinks();
    const auto link = std::find_if(links.begin(), links.end(), [&](const Link& l) { return l.index == index; });
    if (link == links.end()) return {};
    if (SystemFilesDescribe(*link)) {
        std::vector<std::string> servers = ResolvedLinkServers(ReadFile("/run/systemd/resolve/netif/" + std::to_string(index)));
        if (servers.empty()) servers = ResolvedLinkServers(ReadFile("/run/systemd/netif/links/" + std::to_string(index)));
        if (!servers.empty()) return servers;
    }
    if (link->type == ARPHRD_LOOPBACK) return {};
    return ResolvConfServers(ReadFile("/etc/resolv.conf"));
}

uint32_t GetAdaptersInfo(IP_ADAPTER_INFO* buffer, uint32_t* size)
{
    return LayOutAdapters(ReadAdapters(), buffer, size);
}

uint32_t GetPerAdapterInfo(uint32_t index, IP_PER_ADAPTER_INFO* buffer, uint32_t* size)
{
    return LayOutPerAdapter(DnsServersOf(index), buffer, size);
}

}  // namespace

bool LoadPlatformIpHelper(IpHelperLibrary* library)
{
    library->getAdaptersInfo = GetAdaptersInfo;
    library->getPerAdapterInfo = GetPerAdapterInfo;
    return true;
}

}  // namespace kestrine
