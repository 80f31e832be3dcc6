#include "engine/connect_window.h"

#include <algorithm>
#include <cstdio>

#include "ground/messages.h"
#include "platform/console.h"

namespace vorcnt {

namespace {

constexpr std::int64_t kDaySeconds = 24 * 60 * 60;

}  // namespace

std::int64_t seconds_until_open(const ConnectWindow& w, const LocalTime& now) {
  if (window_contains(w, now.hour * 60 + now.minute)) return 0;
  const std::int64_t current = now.hour * 3600 + now.minute * 60 + now.second;
  return ((w.start * std::int64_t{60} - current) % kDaySeconds + kDaySeconds) % kDaySeconds;
}

int window_pause(const ConnectWindow& w, Clock& clock, int cap) {
  const LocalTime now = clock.local_now();
  std::int64_t pause = std::min<std::int64_t>(std::max(cap, 1), seconds_until_open(w, now));
  pause = std::max<std::int64_t>(pause, 1);
  // The wall clock jumps at a change of offset, so a wait measured before it
  // could overshoot the opening by the size of the jump. Wake at the change
  // (the first second with the new offset) and measure again.
  if (clock.local_time(now.utc_seconds + pause).offset_seconds != now.offset_seconds) {
    std::int64_t same = 0;
    std::int64_t changed = pause;
    while (changed - same > 1) {
      const std::int64_t mid = same + (changed - same) / 2;
      if (clock.local_time(now.utc_seconds + mid).offset_seconds == now.offset_seconds)
        same = mid;
      else
        changed = mid;
    }
    pause = changed;
  }
  return static_cast<int>(pause);
}

int connect_window_wait(Os& os, ControllerContext& ctx) {
  const ConnectWindow w = window_of(ctx);
  if (!window_set(w)) return 0;
  const LocalTime now = os.clock.local_now();
  if (window_contains(w, now.hour * 60 + now.minute)) {
    ctx.connect_waiting = 0;
    return 0;
  }
  if (ctx.connect_waiting == 0) {
    const std::int64_t minutes = (seconds_until_open(w, now) + 59) / 60;
    print(os, msg::kConnectWaitsForWindow, ctx.calculation_unit,
          format_hhmm(w.start).c_str(), format_hhmm(w.end).c_str(), format_hhmm(w.start).c_str(),
          static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
    ctx.connect_waiting = 1;
    os.console.flush();  // the wait may last hours: the line must be out before it
  }
  return window_pause(w, os.clock, ctx.time);
}

}  // namespace vorcnt
