// Process-wide monotonic stopwatch that times captures and bounds every busy wait.
#pragma once

#include <atomic>
#include <cstdint>

namespace kestrine {

class Stopwatch {
public:
    Stopwatch();

    // Seconds since construction; takes a fresh reading.
    double Elapsed();
    // Busy-waits, without yielding, until Elapsed() has advanced by seconds.
    void Wait(double seconds);

    int64_t m_startCount = 0;
    std::atomic<int64_t> m_lastCount = 0;  // read by both threads: relaxed, no torn value
    double m_secondsPerTick = 0.0;
    double m_ticksPerSecond = 0.0;
    bool m_valid = false;

private:
    static bool ReadCounter(int64_t* count);
};

extern Stopwatch g_stopwatch;

}  // namespace kestrine
