// What each platform's clock has of its own (os_posix.cpp, os_windows.cpp);
// the rest of the real clock is the same everywhere (wall_clock.cpp).
#pragma once

#include <cstdint>

#include "platform/os.h"

namespace vorcnt {

// Pauses `ms` milliseconds in full: a signal does not cut it short.
void pause_milliseconds(long long ms);
// `utc` by the machine's zone rules, daylight saving included; UTC when the
// system cannot say.
LocalTime zone_local_time(std::int64_t utc);

}  // namespace vorcnt
