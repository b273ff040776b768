// Adapter display texts and the adapter tree.
#include "netinfo/adapter_info.h"

#include <time.h>

#include <cstdio>
#include <string>

#include "common/local_time.h"
#include "common/text_format.h"

namespace kestrine {

namespace {

// Shared by every handle, as the query buffers are.
const IP_ADAPTER_INFO* g_adapters = nullptr;
const IP_PER_ADAPTER_INFO* g_perAdapter = nullptr;
char g_hardwareText[64];
char g_obtainedText[64];
char g_expiresText[64];
// The entry the address lookup returns for an adapter that does not exist.
const IP_ADDR_STRING g_missingAddress = [] {
    IP_ADDR_STRING entry{};
    std::snprintf(entry.IpAddress.String, sizeof entry.IpAddress.String, "IPAddress:error");
    std::snprintf(entry.IpMask.String, sizeof entry.IpMask.String, "IpMask:error");
    return entry;
}();

const IP_ADDR_STRING* Entry(const IP_ADDR_STRING* first, int k)
{
    if (k < 0) return nullptr;
    for (const IP_ADDR_STRING* e = first; e; e = e->Next)
        if (k-- == 0) return e;
    return nullptr;
}

int EntryCount(const IP_ADDR_STRING* first)
{
    int n = 0;
    for (const IP_ADDR_STRING* e = first; e; e = e->Next) ++n;
    return n;
}

}  // namespace

const char* InterfaceTypeName(uint32_t type)
{
    switch (type) {
    case 6: return "ETHERNET";
    case 9: return "TOKENRING";
    case 15: return "FDDI";
    case 23: return "PPP";
    case 24: return "LOOPBACK";
    case 28: return "SLIP";
    default: return "[unknown interface type]";
    }
}

void FormatLeaseTime(int64_t instant, char (&out)[64])
{
    static constexpr const char* DAYS[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto t = static_cast<time_t>(instant);
    tm local{};
    const bool converted = LocalTime(t, &local);
    if (static_cast<int64_t>(t) != instant || !converted) {
        std::snprintf(out, sizeof out, "[invalid data]");
        return;
    }
    const long year = 1900L + local.tm_year;
    if (year < 0 || year > 9999 || local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 || local.tm_mon > 11) {
        std::snprintf(out, sizeof out, "[invalid asctime]");  // no 24-character form exists
        return;
    }
    std::snprintf(out, sizeof out, "%s %s %02d %02d:%02d:%02d %04ld", DAYS[local.tm_wday], MONTHS[local.tm_mon],
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, year);
}

adapter_info::adapter_info() { Refresh(); }

void adapter_info::Refresh()
{
    g_adapters = QueryAdaptersInfo();
    m_valid = g_adapters != nullptr;
}

const IP_ADAPTER_INFO* adapter_info::Adapter(int n)
{
    if (n < 0) n = 0;
    const IP_ADAPTER_INFO* a = g_adapters;
    while (a && n-- > 0) a = a->Next;
    return a;
}

int adapter_info::Count() const
{
    int n = 0;
    for (const IP_ADAPTER_INFO* a = g_adapters; a; a = a->Next) ++n;
    return n;
}

const char* adapter_info::Description(int n) const
{
    const IP_ADAPTER_INFO* a = Adapter(n);
    return a ? a->Description : "[adapter::unknown]";
}

const char* adapter_info::TypeString(int n) const
{
    const IP_ADAPTER_INFO* a = Adapter(n);
    return a ? InterfaceTypeName(a->Type) : "[TypeString::error]";
}

const char* adapter_info::HWAddressString(int n) const
{
    const IP_ADAPTER_INFO* a = Adapter(n);
    if (!a) return "[HWAddressString::error]";
    const unsigned length = a->AddressLength;
    if (length == 0 || length > sizeof a->Address) {
        std::snprintf(g_hardwareText, sizeof g_hardwareText, "xx:xx:xx:xx:xx:xx:");
        return g_hardwareText;
    }
    char* at = g_hardwareText;
    for (unsigned i = 0; i < length; ++i) {
        if (i > 0) *at++ = ':';
        *at++ = HEX_DIGITS[a->Address[i] >> 4];
        *at++ = HEX_DIGITS[a->Address[i] & 0x0F];
    }
    *at = '\0';
    return g_hardwareText;
}

const char* adapter_info::Name(int n) const
{
    const IP_ADAPTER_INFO* a = Adapter(n);
    return a ? a->AdapterName : "[Name::error]";
}

uint32_t adapter_info::Index(int n) const
{
    const IP_ADAPTER_INFO* a = Adapter(n);
    return a ? a->Index : 0;
}

int adapter_info::IPAddressCount(int n) const
{
    const IP_ADAPTER_INFO* a = Adapter(n);
    return a ? EntryCount(&a->IpAddressList) : 0;
}

const char* adapter_info::IPAddressString(int n, int k) const
{
    const IP_ADAPTER_INFO* a = Adapter(n);
    if (!a) return g_missingAddress.IpAddress.String;
    const IP_ADDR_STRING* e = Entry(&a->IpAddressList, k);
    return e ? e->IpAddress.String : "[IPAddressString::error]";
}

const char* adapter_info::IPMaskString(int n, int k) const
{
    const IP_ADAPTER_INFO* a = Adapter(n);
    if (!a) return g_missingAddress.IpMask.String;
    const IP_ADDR_STRING* e = Entry(&a->IpAddressList, k);
    return e ? e->IpMask.String : "[IPMaskString::error]";
}

bool adapter_info::DHCPEnabled(int n) const
{
    const IP_ADAPTER_INFO* a = Adapter(n);
    return a && a->DhcpEnabled != 0;
}

const char* adapter_info::DHCPServer(int n) const
{
    const IP_ADAPTER_INFO* a = Adapter(n);
    return a ? a->DhcpServer.IpAddress.String : "[DHCPServer::error]";
}

const char* adapter_info::DHCPLeaseObtained(int n) const
{
    const IP_ADAPTER_INFO* a = Adapter(n);
    if (!a) return "[DHCPLeaseObtained::error]";
    FormatLeaseTime(a->LeaseObtained, g_obtainedText);
    return g_obtainedText;
}

const char* adapter_info::DHCPLeaseExpires(int n) const
{
    const IP_ADAPTER_INFO* a = Adapter(n);
    if (!a) return "[adapter_info::error]";
    FormatLeaseTime(a->LeaseExpires, g_expiresText);
    return g_expiresText;
}

void adapter_info::LoadPerAdapterInfo(uint32_t index)
{
    g_perAdapter = QueryPerAdapterInfo(index);
    m_valid = g_perAdapter != nullptr;
}

int adapter_info::DNSServerCount() const { return g_perAdapter ? EntryCount(&g_perAdapter->DnsServerList) : 0; }

const char* adapter_info::DNSServerString(int k) const
{
    const IP_ADDR_STRING* e = g_perAdapter ? Entry(&g_perAdapter->DnsServerList, k) : nullptr;
    return e ? e->IpAddress.String : "[unknown]";
}

void FillAdapterTree(adapter_info& info, TreeSink& tree, TreeSink::Item parent)
{
    info.Refresh();
    const int count = info.Count();
    for (int n = 0; n < count; ++n) {
        const TreeSink::Item adapter = tree.InsertItem(info.Description(n), parent);
        tree.InsertItem((std::string("Type: ") + info.TypeString(n)).c_str(), adapter);
        tree.InsertItem((std::string("HW Addr: ") + info.HWAddressString(n)).c_str(), adapter);
        tree.InsertItem((std::string("OS Name: ") + info.Name(n)).c_str(), adapter);

        const int addresses = info.IPAddressCount(n);
        if (addresses > 0) {
            const TreeSink::Item list = tree.InsertItem("IP Addresses", adapter);
            for (int k = 0; k < addresses; ++k)
                tree.InsertItem(
                    (std::string(info.IPAddressString(n, k)) + " - Mask: " + info.IPMaskString(n, k)).c_str(), list);
        } else {
            tree.InsertItem("IP Addresses <NA>", adapter);
        }

        if (info.DHCPEnabled(n)) {
            const TreeSink::Item dhcp = tree.InsertItem((std::string("DHCP Server: ") + info.DHCPServer(n)).c_str(), adapter);
            tree.InsertItem((std::string("Lease Obtained: ") + info.DHCPLeaseObtained(n)).c_str(), dhcp);
            tree.InsertItem((std::string("Lease Expires: ") + info.DHCPLeaseExpires(n)).c_str(), dhcp);
        }

        // A second handle, so the caller's m_valid keeps telling about the adapter list.
        adapter_info perAdapter(info);
        perAdapter.LoadPerAdapterInfo(info.Index(n));
        const int servers = perAdapter.DNSServerCount();
        if (servers > 0) {
            const TreeSink::Item dns = tree.InsertItem("DNS Servers", adapter);
            for (int k = 0; k < servers; ++k) tree.InsertItem(perAdapter.DNSServerString(k), dns);
        }
    }
}

}  // namespace kestrine
