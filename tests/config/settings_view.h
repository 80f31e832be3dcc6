// The fields the settings readers write, compared as one value so a test row
// states every one of them.
#pragma once

#include <ostream>
#include <string>

#include "engine/connect_window.h"
#include "ground/context.h"

namespace vorcnt::testing {

struct Settings {
  std::string path = "keep/";
  std::string execfinish;
  int mode = Mode_calc;
  int fill = 0;
  int units = 2;
  int time = 120;
  int prog = 0;
  int autofill = 0;
  int state = Vorcon_CalcWait;
  std::string connect;  // "HH:MM-HH:MM", empty for none
  std::string history;
  std::string execempty;
  int stall = 0;
  int nowork = 0;
  std::string log;
  bool operator==(const Settings&) const = default;
};

inline Settings settings_of(const ControllerContext& ctx) {
  const std::string connect =
      ctx.connect_start < 0 ? "" : format_hhmm(ctx.connect_start) + "-" + format_hhmm(ctx.connect_end);
  return Settings{ctx.path,     ctx.execfinish,   ctx.mode, ctx.fill,    ctx.units,    ctx.time, ctx.prog,
                  ctx.autofill, ctx.vorcnt_state, connect,  ctx.history, ctx.execempty, ctx.stall, ctx.nowork, ctx.log};
}

inline void PrintTo(const Settings& s, std::ostream* os) {
  *os << "{path=\"" << s.path << "\" execfinish=\"" << s.execfinish << "\" mode=" << s.mode << " fill=" << s.fill
      << " units=" << s.units << " time=" << s.time << " prog=" << s.prog << " autofill=" << s.autofill
      << " state=" << s.state << " connect=" << s.connect << " history=\"" << s.history << "\" execempty=\""
      << s.execempty << "\" stall=" << s.stall << " nowork=" << s.nowork << " log=\"" << s.log << "\"}";
}

}  // namespace vorcnt::testing
