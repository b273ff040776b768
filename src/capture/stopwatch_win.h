// The Windows stopwatch's frequency query, replaceable so the steady-clock fallback can be
// exercised: a Stopwatch constructed afterwards asks the query in place.
#pragma once

#include <cstdint>

namespace kestrine {

// Stores the counter's ticks per second; false when there is no performance counter.
using FrequencyQuery = bool (*)(int64_t* ticksPerSecond);
// nullptr restores QueryPerformanceFrequency.
void SetFrequencyQuery(FrequencyQuery query);

}  // namespace kestrine
