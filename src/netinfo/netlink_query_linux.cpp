// rtnetlink dumps of links and IPv4 addresses.
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "netinfo/netlink_query.h"

namespace kestrine {

namespace {

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

}  // namespace

std::vector<NetlinkLink> ReadNetlinkLinks()
{
    std::vector<NetlinkLink> links;
    NetlinkDump(RTM_GETLINK, [&](nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWLINK || h->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) return;
        auto* info = static_cast<ifinfomsg*>(NLMSG_DATA(h));
        NetlinkLink link;
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
    std::sort(links.begin(), links.end(), [](const NetlinkLink& a, const NetlinkLink& b) { return a.index < b.index; });
    return links;
}

std::vector<NetlinkAddress> ReadNetlinkAddresses()
{
    std::vector<NetlinkAddress> addresses;
    NetlinkDump(RTM_GETADDR, [&](nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWADDR || h->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) return;
        auto* info = static_cast<ifaddrmsg*>(NLMSG_DATA(h));
        if (info->ifa_family != AF_INET) return;
        NetlinkAddress address;
        address.index = info->ifa_index;
        address.prefix = std::min<unsigned>(info->ifa_prefixlen, 32);
        bool haveLocal = false, haveAny = false;
        int length = static_cast<int>(IFA_PAYLOAD(h));
        for (auto* a = IFA_RTA(info); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
            if ((a->rta_type == IFA_LOCAL || (a->rta_type == IFA_ADDRESS && !haveLocal)) && RTA_PAYLOAD(a) >= 4) {
                std::memcpy(address.octets, RTA_DATA(a), 4);
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

}  // namespace kestrine
