// The binding and the grow-once query pattern of both queries.
#include "netinfo/ip_helper.h"

#include <cstdlib>

namespace kestrine {

namespace {

struct QueryBuffer {
    uint8_t* data = nullptr;
    IpHelperSize capacity = 0;  // bytes allocated at data

    void Release()
    {
        std::free(data);
        data = nullptr;
        capacity = 0;
    }
};

bool g_ipHelperLoaded = false;
IpHelperLibrary g_entryPoints;
IpHelperLoader g_loader = LoadPlatformIpHelper;
QueryBuffer g_adaptersBuffer;
QueryBuffer g_perAdapterBuffer;

// One call with the buffer left by the previous query; on overflow one new buffer of the
// reported size and exactly one retry. Every call is given the buffer's real capacity:
// after a second overflow the reported size exceeds the buffer, and handing that size on
// to the next query would let the provider write past the allocation.
template <typename Call>
uint8_t* Query(QueryBuffer& buffer, Call call)
{
    IpHelperSize size = buffer.capacity;
    IpHelperSize result = call(buffer.data, &size);
    if (result == IPHLP_NO_ERROR) return buffer.data;
    if (result != IPHLP_BUFFER_OVERFLOW) return nullptr;
    buffer.Release();
    buffer.data = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
    if (!buffer.data) return nullptr;
    buffer.capacity = size;
    result = call(buffer.data, &size);
    return result == IPHLP_NO_ERROR ? buffer.data : nullptr;
}

}  // namespace

bool LoadIpHelper()
{
    if (g_ipHelperLoaded) return true;
    IpHelperLibrary library;
    if (!g_loader(&library)) return false;
    g_entryPoints = library;  // each entry point as found, null included
    g_ipHelperLoaded = true;
    return true;
}

IP_ADAPTER_INFO* QueryAdaptersInfo()
{
    if (!LoadIpHelper() || !g_entryPoints.getAdaptersInfo) return nullptr;
    const auto entry = g_entryPoints.getAdaptersInfo;
    return reinterpret_cast<IP_ADAPTER_INFO*>(Query(g_adaptersBuffer, [entry](uint8_t* data, IpHelperSize* size) {
        return entry(reinterpret_cast<IP_ADAPTER_INFO*>(data), size);
    }));
}

IP_PER_ADAPTER_INFO* QueryPerAdapterInfo(uint32_t adapterIndex)
{
    if (!LoadIpHelper() || !g_entryPoints.getPerAdapterInfo) return nullptr;
    const auto entry = g_entryPoints.getPerAdapterInfo;
    return reinterpret_cast<IP_PER_ADAPTER_INFO*>(
        Query(g_perAdapterBuffer, [entry, adapterIndex](uint8_t* data, IpHelperSize* size) {
            return entry(adapterIndex, reinterpret_cast<IP_PER_ADAPTER_INFO*>(data), size);
        }));
}

void SetIpHelperLoader(IpHelperLoader loader)
{
    g_loader = loader ? loader : LoadPlatformIpHelper;
    g_ipHelperLoaded = false;
    g_entryPoints = IpHelperLibrary{};
    g_adaptersBuffer.Release();
    g_perAdapterBuffer.Release();
}

}  // namespace kestrine
