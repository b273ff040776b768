// Stopwatch on CLOCK_MONOTONIC, counted in nanoseconds.
#include "capture/stopwatch.h"

#include <time.h>

#include <chrono>

namespace kestrine {

Stopwatch g_stopwatch;

bool Stopwatch::ReadCounter(int64_t* count)
{
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC, &ts) == 0) {
        *count = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
        return true;
    }
    // Without the clock the waits must still end: fall back to the library's steady clock.
    *count = std::chrono::duration_cast<std::chrono::nanoseconds>(
                 std::chrono::steady_clock::now().time_since_epoch()).count();
    return false;
}

Stopwatch::Stopwatch()
{
    timespec resolution{};
    const bool haveResolution = clock_getres(CLOCK_MONOTONIC, &resolution) == 0;
    const bool haveReading = ReadCounter(&m_startCount);
    m_lastCount.store(m_startCount, std::memory_order_relaxed);
    m_ticksPerSecond = 1e9;
    m_secondsPerTick = 1e-9;
    m_valid = haveResolution && haveReading;
}

double Stopwatch::Elapsed()
{
    int64_t now = 0;
    ReadCounter(&now);
    m_lastCount.store(now, std::memory_order_relaxed);
    return static_cast<double>(now - m_startCount) * m_secondsPerTick;
}

}  // namespace kestrine
