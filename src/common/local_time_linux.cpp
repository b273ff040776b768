// The local calendar time through localtime_r.
#include "common/local_time.h"

namespace kestrine {

bool LocalTime(time_t moment, tm* local) { return localtime_r(&moment, local) != nullptr; }

}  // namespace kestrine
