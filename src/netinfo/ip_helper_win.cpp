// The adapter query service on Windows: the IP Helper library, loaded at run time and
// never unloaded.
#include "netinfo/ip_helper.h"  // brings winsock2.h, which must precede windows.h

#include <windows.h>

namespace kestrine {

bool LoadPlatformIpHelper(IpHelperLibrary* library)
{
    const HMODULE module = LoadLibraryA("iphlpapi.dll");
    if (reinterpret_cast<uintptr_t>(module) < 32) return false;
    library->getAdaptersInfo = reinterpret_cast<GetAdaptersInfoFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetAdaptersInfo")));
    library->getPerAdapterInfo = reinterpret_cast<GetPerAdapterInfoFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetPerAdapterInfo")));
    return true;
}

}  // namespace kestrine
