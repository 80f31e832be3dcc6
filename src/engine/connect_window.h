// The connection window: the local hours in which the client may start a
// connection. It gates only the start of one; computing is never held back,
// and a connection under way when the window closes is left to finish.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/context.h"
#include "platform/os.h"

namespace vorcnt {

// Minutes after local midnight. start < 0: no window, connect at any time.
// start == end: an empty window, which means always.
struct ConnectWindow {
  int start = -1;
  int end = -1;
};

// "HH:MM-HH:MM" (one or two hour digits, blanks around the dash allowed).
// False, with `out` untouched, for anything else.
bool parse_connect_window(std::string_view text, ConnectWindow* out);
// "HH:MM" of a minute after midnight.
std::string format_hhmm(int minute);
inline bool window_set(const ConnectWindow& w) { return w.start >= 0; }
inline ConnectWindow window_of(const ControllerContext& ctx) { return {ctx.connect_start, ctx.connect_end}; }

// Start inclusive, end exclusive; it may wrap past midnight.
bool window_contains(const ConnectWindow& w, int minute_of_day);
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
