// The gate of the connection window. It holds back only the start of a
// connection; computing is never held back, and a connection under way when
// the window closes is left to finish.
#pragma once

#include <cstdint>

#include "ground/connect_hours.h"
#include "ground/context.h"
#include "platform/os.h"

namespace vorcnt {

// Seconds by the wall clock from `now` until the window next opens; 0 when
// it is open.
std::int64_t seconds_until_open(const ConnectWindow& w, const LocalTime& now);
// The next pause while waiting: 1 to `cap` seconds, ending no later than the
// opening, and never past a change of the UTC offset (a clock change), after
// which the wait is measured again.
int window_pause(const ConnectWindow& w, Clock& clock, int cap);

// The gate before a connection starts. 0 when it may start now; otherwise the
// pause to take, the first time with one line saying when the window opens.
int connect_window_wait(Os& os, ControllerContext& ctx);

}  // namespace vorcnt
