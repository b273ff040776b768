// Work over a whole list or file that the window does in slices from its event loop, so
// that it keeps repainting and answering keys meanwhile: a search, a copy, a save. Each
// slice runs for about the time it is given, then returns; the work can be dropped between
// any two slices.
#pragma once

#include <chrono>
#include <cstddef>

namespace kestrine {

class LongOperation {
public:
    virtual ~LongOperation() = default;
    // Does the next part of the work for about the given seconds (at least one small step
    // of it); true once the whole work is done.
    virtual bool Step(double seconds) = 0;
    // How much is done, 0 to 100.
    virtual int Percent() const = 0;
};

// The end of a slice. The clock is read once per group of items, so a slice costs no more
// than one read per few hundred lines.
class SliceDeadline {
public:
    // A day or more: no end.
    explicit SliceDeadline(double seconds)
        : m_end(seconds >= 86400.0 ? std::chrono::steady_clock::time_point::max()
                                   : std::chrono::steady_clock::now() +
                                         std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                             std::chrono::duration<double>(seconds)))
    {
    }
    bool Passed() const { return std::chrono::steady_clock::now() >= m_end; }

private:
    std::chrono::steady_clock::time_point m_end;
};

// Items done between two looks at the clock.
inline constexpr size_t SLICE_GROUP = 256;

// done of total as a whole percentage, 100 for no work.
inline int PercentOf(size_t done, size_t total)
{
    return total == 0 ? 100 : static_cast<int>(done * 100 / total);
}

}  // namespace kestrine
