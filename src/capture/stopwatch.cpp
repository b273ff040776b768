// The busy wait on the stopwatch; the clock itself is in the platform files.
#include "capture/stopwatch.h"

namespace kestrine {

void Stopwatch::Wait(double seconds)
{
    const double until = Elapsed() + seconds;
    while (Elapsed() < until) {
    }
}

}  // namespace kestrine
