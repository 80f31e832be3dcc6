// The connection window as a value: the local hours in which the client may
// start a connection, with its "HH:MM-HH:MM" text form.
#pragma once

#include <string>
#include <string_view>

#include "ground/context.h"

namespace vorcnt {

// Minutes after local midnight. start < 0: no window, connect at any time.
// start == end: an empty window, which means always.
struct ConnectWindow {
  int start = -1;
  int end = -1;
};

// "HH:MM-HH:MM" (two digits each, blanks around the dash allowed).
// False, with `out` untouched, for anything else.
bool parse_connect_window(std::string_view text, ConnectWindow* out);
// "HH:MM" of a minute after midnight.
std::string format_hhmm(int minute);
inline bool window_set(const ConnectWindow& w) { return w.start >= 0; }
inline ConnectWindow window_of(const ControllerContext& ctx) { return {ctx.connect_start, ctx.connect_end}; }

// Start inclusive, end exclusive; it may wrap past midnight.
bool window_contains(const ConnectWindow& w, int minute_of_day);

}  // namespace vorcnt
