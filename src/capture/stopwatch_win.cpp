// Stopwatch on the performance counter; on the steady clock when the counter's frequency
// cannot be had, so the waits still end and the times still grow.
#include <windows.h>

#include <chrono>

#include "capture/stopwatch.h"
#include "capture/stopwatch_win.h"

namespace kestrine {

namespace {

bool PlatformFrequency(int64_t* ticksPerSecond)
{
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency)) return false;
    *ticksPerSecond = frequency.QuadPart;
    return true;
}

FrequencyQuery g_frequencyQuery = PlatformFrequency;

int64_t SteadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// After the query and its seam, which it needs at construction.
Stopwatch g_stopwatch;

void SetFrequencyQuery(FrequencyQuery query) { g_frequencyQuery = query ? query : PlatformFrequency; }

bool Stopwatch::ReadCounter(int64_t* count)
{
    LARGE_INTEGER now;
    if (!QueryPerformanceCounter(&now)) return false;
    *count = now.QuadPart;
    return true;
}

// m_valid: the performance counter is in use; otherwise the steady clock in nanoseconds.
Stopwatch::Stopwatch()
{
    int64_t frequency = 0;
    if (g_frequencyQuery(&frequency) && frequency > 0 && ReadCounter(&m_startCount)) {
        m_ticksPerSecond = static_cast<double>(frequency);
        m_valid = true;
    } else {
        m_startCount = SteadyNanoseconds();
        m_ticksPerSecond = 1e9;
    }
    m_secondsPerTick = 1.0 / m_ticksPerSecond;
    m_lastCount.store(m_startCount, std::memory_order_relaxed);
}

double Stopwatch::Elapsed()
{
    int64_t now = m_lastCount.load(std::memory_order_relaxed);
    if (m_valid) {
        ReadCounter(&now);  // a failed reading keeps the last one
    } else {
        now = SteadyNanoseconds();
    }
    m_lastCount.store(now, std::memory_order_relaxed);
    return static_cast<double>(now - m_startCount) * m_secondsPerTick;
}

}  // namespace kestrine
