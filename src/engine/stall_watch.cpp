#include "engine/stall_watch.h"

#include <cstdio>

#include "clientdata/snapshot.h"
#include "engine/connect_window.h"
#include "engine/engine.h"
#include "engine/history.h"
#include "ground/messages.h"
#include "platform/console.h"
#include "platform/language.h"

namespace vorcnt {

namespace {

// The progress goes in too: a state file rewritten within one second at the
// same size still shows as a change.
std::string client_files(const ControllerContext& ctx) {
  std::string marks = look_at_client_files(ctx.path).marks;
  marks.append(reinterpret_cast<const char*>(&ctx.progress), sizeof ctx.progress);
  return marks;
}

void restart_client(Os& os, ControllerContext& ctx) {
  run_command(os, "vorclose -exit -echo off");
  set_stop_note({});
  os.clock.sleep_seconds(5);
  if (ctx.vorcnt_state == Vorcon_Calc)
    calc_start(os, ctx);
  else
    connect_start(os, ctx);
}

}  // namespace

std::string short_duration(long long seconds) {
  if (seconds < 0) seconds = 0;
  char buf[48];
  if (seconds < 60)
    std::snprintf(buf, sizeof buf, "%llds", seconds);
  else if (seconds < 3600)
    std::snprintf(buf, sizeof buf, "%lldm%02llds", seconds / 60, seconds % 60);
  else if (seconds < 86400)
    std::snprintf(buf, sizeof buf, "%lldh%02lldm", seconds / 3600, seconds % 3600 / 60);
  else
    std::snprintf(buf, sizeof buf, "%lldd%02lldh", seconds / 86400, seconds % 86400 / 3600);
  return buf;
}

void watch_client(Os& os, ControllerContext& ctx) {
  StallWatch& w = ctx.stall_watch;
  const double now = os.clock.pause_clock_seconds();
  std::string files = client_files(ctx);
  if (w.state != ctx.vorcnt_state || w.unit != ctx.calculation_unit) {
    w = StallWatch{};
    w.state = ctx.vorcnt_state;
    w.unit = ctx.calculation_unit;
    w.files = std::move(files);
    w.changed_at = w.quiet_since = now;
    return;
  }
  if (w.after_restart) {
    // What a restarted client writes as it starts up is no sign that it
    // works: the count goes on until its files change after this look.
    w.after_restart = false;
    w.files = std::move(files);
    w.quiet_since = now;
    return;
  }
  if (files != w.files) {
    w.files = std::move(files);
    w.changed_at = w.quiet_since = now;
    w.restarts = 0;
    return;
  }
  if (ctx.stall <= 0 || w.restarts > kStallRestarts || now - w.quiet_since < ctx.stall * 60.0) return;
  // A restart starts a connection again, and outside the window none may
  // start: the still client waits for the window like any connection.
  if (ctx.vorcnt_state == Vorcon_Connection && window_set(window_of(ctx)) &&
      seconds_until_open(window_of(ctx), os.clock.local_now()) > 0)
    return;

  const long long unchanged = static_cast<long long>(now - w.changed_at + 0.5);
  const std::string shown = short_duration(unchanged);
  const char* doing = tr(ctx.vorcnt_state == Vorcon_Calc ? N_("computing") : N_("connecting"));
  const std::string detail = std::string(doing) + " unchanged=" + std::to_string(unchanged) + "s";
  if (w.restarts == kStallRestarts) {
    // Restarting for ever would hide the fault; the unit stays where it is
    // for a person to look at, and the watch goes on.
    print(os, msg::kStallRestartsStopped, ctx.calculation_unit, shown.c_str(), doing, kStallRestarts);
    record_event(os, ctx, UnitEvent::restart_stop, ctx.calculation_unit, ctx.path,
                 detail + " restarts=" + std::to_string(kStallRestarts));
    ++w.restarts;
    return;
  }
  ++w.restarts;
  print(os, msg::kStallRestarting, ctx.calculation_unit, shown.c_str(), doing, w.restarts, kStallRestarts);
  record_event(os, ctx, UnitEvent::restarted, ctx.calculation_unit, ctx.path,
               detail + " restart=" + std::to_string(w.restarts));
  restart_client(os, ctx);
  w.after_restart = true;
}

}  // namespace vorcnt
