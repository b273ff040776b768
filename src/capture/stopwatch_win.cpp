// Stopwatch on the performance counter.
#include <windows.h>

#include "capture/stopwatch.h"

namespace kestrine {

Stopwatch g_stopwatch;

bool Stopwatch::ReadCounter(int64_t* count)
{
    LARGE_INTEGER now;
    if (!QueryPerformanceCounter(&now)) return false;
    *count = now.QuadPart;
    return true;
}

Stopwatch::Stopwatch()
{
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart == 0) return;
    if (!ReadCounter(&m_startCount)) return;
    m_lastCount.store(m_startCount, std::memory_order_relaxed);
    m_ticksPerSecond = static_cast<double>(frequency.QuadPart);
    m_secondsPerTick = 1.0 / m_ticksPerSecond;
    m_valid = true;
}

double Stopwatch::Elapsed()
{
    int64_t now = m_lastCount.load(std::memory_order_relaxed);
    ReadCounter(&now);
    m_lastCount.store(now, std::memory_order_relaxed);
    return static_cast<double>(now - m_startCount) * m_secondsPerTick;
}

}  // namespace kestrine
