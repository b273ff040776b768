// The first-run decision, the same on every platform; the store itself is per platform.
#include "ui/first_run_store.h"

namespace kestrine {

bool TakeFirstRun(FirstRunStore& store)
{
    if (!store.Open()) return false;
    uint32_t value = 0;
    const bool first = !store.ReadDword(FIRST_RUN_VALUE, &value) || value == 0;
    // Written before the caller shows the box, so a program ended while it is open does not
    // show it again. A failed write only means the box comes back next time.
    if (first) (void)store.WriteDword(FIRST_RUN_VALUE, 1);
    store.Close();
    return first;
}

}  // namespace kestrine
