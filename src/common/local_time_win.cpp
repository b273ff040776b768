// The local calendar time through localtime_s.
#include "common/local_time.h"

namespace kestrine {

bool LocalTime(time_t moment, tm* local) { return localtime_s(local, &moment) == 0; }

}  // namespace kestrine
