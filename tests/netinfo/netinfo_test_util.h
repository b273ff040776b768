// A scripted adapter provider and a recording tree sink for the netinfo tests.
#pragma once

#include <string>
#include <vector>

#include "netinfo/adapter_info.h"
#include "netinfo/adapter_records.h"

namespace kestrine::testing {

// What the scripted provider returns, and what it was asked.
struct ScriptedProvider {
    static inline std::vector<AdapterData> adapters;
    static inline std::vector<std::vector<std::string>> dnsByIndex;  // indexed by interface index
    static inline int adapterCalls = 0;
    static inline int perAdapterCalls = 0;
    static inline int loads = 0;
    static inline std::vector<uint32_t> sizesSeen;      // the size each adapter call was given
    static inline std::vector<const void*> buffersSeen;  // the buffer each adapter call was given
    static inline size_t growBy = 0;                     // adapters added after every adapter call
    static inline std::vector<uint32_t> indexesAsked;    // of every per-adapter call

    static void Reset()
    {
        adapters.clear();
        dnsByIndex.clear();
        adapterCalls = perAdapterCalls = loads = 0;
        sizesSeen.clear();
        buffersSeen.clear();
        growBy = 0;
        indexesAsked.clear();
    }

    static uint32_t GetAdaptersInfo(IP_ADAPTER_INFO* buffer, uint32_t* size)
    {
        ++adapterCalls;
        sizesSeen.push_back(*size);
        buffersSeen.push_back(buffer);
        const uint32_t result = LayOutAdapters(adapters, buffer, size);
        for (size_t i = 0; i < growBy; ++i) adapters.push_back(adapters.back());
        return result;
    }

    static uint32_t GetPerAdapterInfo(uint32_t index, IP_PER_ADAPTER_INFO* buffer, uint32_t* size)
    {
        ++perAdapterCalls;
        indexesAsked.push_back(index);
        if (index >= dnsByIndex.size()) return IPHLP_NO_DATA;
        return LayOutPerAdapter(dnsByIndex[index], buffer, size);
    }

    static bool LoadBoth(IpHelperLibrary* library)
    {
        ++loads;
        library->getAdaptersInfo = GetAdaptersInfo;
        library->getPerAdapterInfo = GetPerAdapterInfo;
        return true;
    }
    static bool LoadWithoutPerAdapter(IpHelperLibrary* library)
    {
        ++loads;
        library->getAdaptersInfo = GetAdaptersInfo;
        return true;
    }
    static bool LoadNothing(IpHelperLibrary*)
    {
        ++loads;
        return false;
    }
};

// Records items as "depth-indented text" lines, in insertion order.
class RecordingSink final : public TreeSink {
public:
    Item InsertItem(const char* text, Item parent) override
    {
        const int depth = parent == ROOT ? 0 : m_depths.at(parent - 1) + 1;
        m_depths.push_back(depth);
        m_text += std::string(static_cast<size_t>(depth) * 2, ' ') + text + "\n";
        return m_depths.size();
    }
    std::string m_text;

private:
    std::vector<int> m_depths;
};

}  // namespace kestrine::testing
