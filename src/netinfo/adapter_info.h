// The read-only adapter model behind the configuration dialog's interface tree: display
// texts for every item of an adapter, with a fixed text for every item that cannot be had,
// and the tree layout of all adapters.
#pragma once

#include <cstdint>

#include "netinfo/ip_helper.h"

namespace kestrine {

// Where FillAdapterTree puts its items: a tree view, or a test's or tool's recording.
class TreeSink {
public:
    using Item = uintptr_t;
    static constexpr Item ROOT = 0;
    // Appends text as the last child of parent; returns the new item.
    virtual Item InsertItem(const char* text, Item parent) = 0;

protected:
    ~TreeSink() = default;
};

const char* InterfaceTypeName(uint32_t type);

// A handle over the process-wide adapter list and per-adapter record. Accessor texts live
// in shared buffers: copy one before calling the same accessor again.
class adapter_info {
public:
    adapter_info();

    // Queries the adapter list anew and makes it current.
    void Refresh();
    int Count() const;

    const char* Description(int n) const;
    const char* TypeString(int n) const;
    const char* HWAddressString(int n) const;
    const char* Name(int n) const;
    uint32_t Index(int n) const;
    int IPAddressCount(int n) const;
    const char* IPAddressString(int n, int k) const;
    const char* IPMaskString(int n, int k) const;
    bool DHCPEnabled(int n) const;
    const char* DHCPServer(int n) const;
    const char* DHCPLeaseObtained(int n) const;
    const char* DHCPLeaseExpires(int n) const;

    // Queries the per-adapter record of the adapter with that interface index.
    void LoadPerAdapterInfo(uint32_t index);
    int DNSServerCount() const;
    const char* DNSServerString(int k) const;

    bool m_valid = false;

private:
    static const IP_ADAPTER_INFO* Adapter(int n);
};

// 24 characters of local time such as "Mon Dec 07 06:54:05 2026", "[invalid data]" when
// the instant cannot be converted, "[invalid asctime]" when it cannot be formatted.
void FormatLeaseTime(int64_t instant, char (&out)[64]);

// Lays every adapter out under parent: description; type, hardware address and OS name;
// addresses with masks; DHCP server with the lease times; DNS servers.
void FillAdapterTree(adapter_info& info, TreeSink& tree, TreeSink::Item parent);

}  // namespace kestrine
