// The adapter query service on Linux: a built-in provider with the IP Helper contract that
// reads links and IPv4 addresses from rtnetlink, descriptions from the driver and the
// device database, DHCP servers from lease files and DNS servers from the resolver, fresh
// at every query.
// glibc's <net/if.h> must come before the kernel headers, which then skip their copies.
#include <net/if.h>
#include <net/if_arp.h>
//
#include <dirent.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/text_format.h"
#include "netinfo/adapter_records.h"
#include "netinfo/ip_helper.h"
#include "netinfo/netlink_query.h"
#include "netinfo/system_files.h"

namespace kestrine {

namespace {

constexpr size_t IFINDEX_FILE_LIMIT = 64;
constexpr size_t DEVICE_DATABASE_LIMIT = 64 * 1024;

// Files under /sys and /run describe the namespace they were mounted in; they are used
// only when they agree on the interface's index, so a private namespace never borrows
// another interface's description or lease.
bool SystemFilesDescribe(const NetlinkLink& link)
{
    const std::string text = ReadSystemFile("/sys/class/net/" + link.name + "/ifindex", IFINDEX_FILE_LIMIT);
    return !text.empty() && static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10)) == link.index;
}

std::string DriverOf(const NetlinkLink& link, bool systemFiles)
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

std::string DhcpServerOf(const NetlinkLink& link)
{
    std::string server = NetworkdLeaseServer(ReadSystemFile("/run/systemd/netif/leases/" + std::to_string(link.index)));
    if (!server.empty()) return server;
    for (const char* directory : {"/var/lib/dhcp", "/var/lib/dhclient", "/var/lib/NetworkManager"}) {
        DIR* d = opendir(directory);
        if (!d) continue;
        while (dirent* entry = readdir(d)) {
            const std::string file = entry->d_name;
            if (file.find(".lease") == std::string::npos) continue;
            const std::string text = ReadSystemFile(std::string(directory) + "/" + file);
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

std::string DottedText(uint32_t hostOrder)
{
    char text[DOTTED_QUAD_SIZE];
    FormatDottedQuad(hostOrder, text);
    return text;
}

std::string DottedText(const uint8_t* octets)
{
    char text[DOTTED_QUAD_SIZE];
    FormatDottedQuad(octets, text);
    return text;
}

std::string MaskText(unsigned prefix) { return DottedText(prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix)); }

std::vector<AdapterData> ReadAdapters()
{
    const std::vector<NetlinkLink> links = ReadNetlinkLinks();
    const std::vector<NetlinkAddress> addresses = ReadNetlinkAddresses();
    timespec now{}, sinceBoot{};
    clock_gettime(CLOCK_REALTIME, &now);
    clock_gettime(CLOCK_MONOTONIC, &sinceBoot);

    std::vector<AdapterData> adapters;
    for (const NetlinkLink& link : links) {
        AdapterData a;
        a.index = link.index;
        a.name = link.name;
        a.hardwareAddress = link.hardwareAddress;
        const bool systemFiles = SystemFilesDescribe(link);
        const std::string sysfs = "/sys/class/net/" + link.name;
        const bool wireless = systemFiles && (PathExists(sysfs + "/wireless") || PathExists(sysfs + "/phy80211"));
        a.type = InterfaceTypeOfLink(link.type, wireless);
        // Loopback has no device behind it: neither a database entry nor a driver.
        const bool loopback = link.type == ARPHRD_LOOPBACK;
        std::string deviceEntry, driver;
        if (!loopback) {
            if (systemFiles)
                deviceEntry = ReadSystemFile("/run/udev/data/n" + std::to_string(link.index), DEVICE_DATABASE_LIMIT);
            driver = DriverOf(link, systemFiles);
        }
        a.description = DescribeLinuxAdapter(deviceEntry, driver, link.name, loopback);

        for (const NetlinkAddress& address : addresses) {
            if (address.index != link.index) continue;
            a.addresses.push_back({DottedText(address.octets), MaskText(address.prefix)});
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
    std::vector<NetlinkLink> links = ReadNetlinkLinks();
    const auto link = std::find_if(links.begin(), links.end(), [&](const NetlinkLink& l) { return l.index == index; });
    if (link == links.end()) return {};
    if (SystemFilesDescribe(*link)) {
        std::vector<std::string> servers = ResolvedLinkServers(ReadSystemFile("/run/systemd/resolve/netif/" + std::to_string(index)));
        if (servers.empty()) servers = ResolvedLinkServers(ReadSystemFile("/run/systemd/netif/links/" + std::to_string(index)));
        if (!servers.empty()) return servers;
    }
    if (link->type == ARPHRD_LOOPBACK) return {};
    return ResolvConfServers(ReadSystemFile("/etc/resolv.conf"));
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
