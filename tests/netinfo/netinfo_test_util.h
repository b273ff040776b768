// A scripted adapter provider, a recording tree sink, adapter builders, temporary
// directories and a deadline for calls that might block, for the netinfo tests.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "netinfo/adapter_info.h"
#include "netinfo/adapter_records.h"

namespace kestrine::testing {

// An adapter named after its index, with the addresses given.
inline AdapterData MakeAdapter(uint32_t index, std::vector<AdapterAddress> addresses = {{"192.0.2.1", "255.255.255.0"}})
{
    AdapterData a;
    a.index = index;
    a.name = "eth" + std::to_string(index);
    a.description = "Adapter " + std::to_string(index);
    a.addresses = std::move(addresses);
    return a;
}

// The size the layout asks for when handed no buffer.
inline uint32_t ReportedAdaptersSize(const std::vector<AdapterData>& adapters)
{
    uint32_t size = 0;
    return LayOutAdapters(adapters, nullptr, &size) == IPHLP_BUFFER_OVERFLOW ? size : 0;
}
inline uint32_t ReportedPerAdapterSize(const std::vector<std::string>& dnsServers)
{
    uint32_t size = 0;
    return LayOutPerAdapter(dnsServers, nullptr, &size) == IPHLP_BUFFER_OVERFLOW ? size : 0;
}

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
    static inline size_t dnsGrowBy = 0;                  // servers added after every per-adapter call
    static inline std::vector<uint32_t> indexesAsked;    // of every per-adapter call

    static void Reset()
    {
        adapters.clear();
        dnsByIndex.clear();
        adapterCalls = perAdapterCalls = loads = 0;
        sizesSeen.clear();
        buffersSeen.clear();
        growBy = dnsGrowBy = 0;
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
        std::vector<std::string>& servers = dnsByIndex[index];
        const uint32_t result = LayOutPerAdapter(servers, buffer, size);
        for (size_t i = 0; i < dnsGrowBy && !servers.empty(); ++i) servers.push_back(servers.back());
        return result;
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

// A directory of its own under the test's temporary directory, removed with its files.
class TempDirectory {
public:
    TempDirectory()
    {
        std::string pattern = ::testing::TempDir() + "kestrine-netinfo-XXXXXX";
        if (mkdtemp(pattern.data())) m_path = pattern;
    }
    ~TempDirectory()
    {
        if (m_path.empty()) return;
        for (const std::string& name : m_names) unlink((m_path + "/" + name).c_str());
        rmdir(m_path.c_str());
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    bool Valid() const { return !m_path.empty(); }
    // The path of name in the directory; the file is removed with the directory.
    std::string File(const std::string& name)
    {
        m_names.push_back(name);
        return m_path + "/" + name;
    }

private:
    std::string m_path;
    std::vector<std::string> m_names;
};

// Runs body in a child process and waits at most seconds for it: a call that blocks
// fails the test instead of hanging the run. Success when body returns true in time.
template <typename Body>
::testing::AssertionResult FinishesWithin(int seconds, Body body)
{
    const pid_t child = fork();
    if (child < 0) return ::testing::AssertionFailure() << "fork failed";
    if (child == 0) _exit(body() ? 0 : 1);
    constexpr long POLL_NANOSECONDS = 10 * 1000 * 1000;
    for (long waited = 0; waited < seconds * 1000000000L; waited += POLL_NANOSECONDS) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return ::testing::AssertionSuccess();
            return ::testing::AssertionFailure() << "the call returned a wrong result";
        }
        const timespec pause{0, POLL_NANOSECONDS};
        nanosleep(&pause, nullptr);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return ::testing::AssertionFailure() << "the call was still blocked after " << seconds << " s";
}

}  // namespace kestrine::testing
