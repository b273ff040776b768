// The per-user store of the one value the program keeps between runs, "FirstRun", and the
// first-run decision. On Windows the registry key of the current user; elsewhere a small
// file in the registry's export syntax under the user's configuration folder. Free of the
// UI toolkit, so both platform sides are tested without a display.
#pragma once

#include <cstdint>
#include <memory>

namespace kestrine {

inline constexpr const char* FIRST_RUN_KEY = "Software\\Harvoll\\Kestrine";
inline constexpr const char* FIRST_RUN_VALUE = "FirstRun";

class FirstRunStore {
public:
    FirstRunStore();
    ~FirstRunStore();
    FirstRunStore(const FirstRunStore&) = delete;
    FirstRunStore& operator=(const FirstRunStore&) = delete;

    // Creates or opens the store for reading and writing; false when that fails.
    bool Open();
    // A 32-bit value stored as such; false when missing, of another type or unreadable.
    bool ReadDword(const char* name, uint32_t* value);
    // Stores a 32-bit value, keeping every other value; false when the write fails. A store
    // that exists but cannot be read is never replaced: the write fails.
    bool WriteDword(const char* name, uint32_t value);
    void Close();

private:
    struct Platform;  // the platform's handle on the store, in its own file
    std::unique_ptr<Platform> m_platform;
};

// The first-run decision: opens the store (on failure: false, nothing shown); when
// "FirstRun" cannot be read as a 32-bit value or is 0, writes 1 where the store allows it
// and returns true, so the caller shows the About box after the value is written.
bool TakeFirstRun(FirstRunStore& store);

}  // namespace kestrine
