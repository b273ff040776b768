// What the benchmarks read of their own process: a monotonic clock in seconds and the
// resident memory (Linux).
#pragma once

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

namespace kestrine::bench {

inline double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline long ResidentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

}  // namespace kestrine::bench
