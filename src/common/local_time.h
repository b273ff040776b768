// The calendar time in the local zone of a moment, safe to call from any thread.
#pragma once

#include <time.h>

namespace kestrine {

// False when the system cannot convert the moment; *local is then undefined.
bool LocalTime(time_t moment, tm* local);

}  // namespace kestrine
