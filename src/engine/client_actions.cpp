// The actions that drive the client through one work unit. The closer tool's
// command lines differ in whether ".exe" is given; both forms are kept as the
// installed tool has always been called.
#include <cstring>
#include <string>

#include "engine/engine.h"
#include "engine/history.h"
#include "engine/work_wait.h"
#include "ground/data_state.h"
#include "ground/messages.h"
#include "platform/console.h"
#include "platform/files.h"

namespace vorcnt {

namespace {

std::string client_command(const ControllerContext& ctx) { return client_program(ctx.path); }

// With no current unit (a run in Mode_error selects none) there is no entry
// to write; the table is never indexed with NO_UNIT.
void record_unit_state(Os& os, ControllerContext& ctx, std::int32_t state) {
  if (!is_unit_index(ctx.calculation_unit)) {
    print(os, msg::kStateOfNoUnitNotRecorded, ctx.calculation_unit, state);
    return;
  }
  ctx.unit_state[ctx.calculation_unit] = state;
}

// Whether the result went out and new work came in, as the client folder
// now shows it.
void record_connected(Os& os, ControllerContext& ctx) {
  if (ctx.history[0] == '\0') return;
  const std::string client(ctx.path);
  const bool sent = !path_exists(client_file(ctx.path, "result.vwu").c_str());
  const bool new_work = path_exists(client_file(ctx.path, "work_unit.vwu").c_str());
  record_event(os, ctx, UnitEvent::connected, ctx.calculation_unit, client,
               std::string("sent=") + (sent ? "yes" : "no") + " new_work=" + (new_work ? "yes" : "no"));
}

}  // namespace

void calc_start(Os& os, ControllerContext& ctx) {
  run_command(os, client_command(ctx));
  // From here a stop by hand leaves the client computing; it says so.
  set_stop_note(format_text(msg::kStopClientComputing, ctx.calculation_unit));
  os.clock.sleep_seconds(5);
  run_command(os, "vorclose -close -echo off");
  ctx.vorcnt_state = Vorcon_Calc;
  record_event(os, ctx, UnitEvent::calc_start, ctx.calculation_unit, ctx.path);
}

int calc_check(Os& os, ControllerContext& ctx) {
  if (ctx.data_state != Data_Calculation_completion) return 0;
  run_command(os, "vorclose -exit -echo off");
  set_stop_note({});
  record_unit_state(os, ctx, Data_Calculation_completion);
  ctx.vorcnt_state = Vorcon_CalcCompletion;
  record_computed(os, ctx);
  if (ctx.execfinish[0] != '\0') {
    print_showing(os, ctx.execfinish, msg::kFinishCommandShown, kVerbatim);
    print(os, msg::kExecfinishLength, static_cast<int>(std::strlen(ctx.execfinish)));
    run_command(os, ctx.execfinish);
  }
  os.clock.sleep_seconds(30);
  return 1;
}

void connect_start(Os& os, ControllerContext& ctx) {
  // Recorded before the client starts: once it runs, the result it sends
  // may be gone before the journal could name it.
  record_event(os, ctx, UnitEvent::connect_start, ctx.calculation_unit, ctx.path);
  run_command(os, client_command(ctx));
  set_stop_note(format_text(msg::kStopClientConnecting, ctx.calculation_unit));
  os.clock.sleep_seconds(20);
  if (ctx.fill == 2) run_command(os, "vorclose.exe -connect");
  ctx.vorcnt_state = Vorcon_Connection;
  print(os, msg::kClientConnectStarted, ctx.calculation_unit);
}

void connect_check(Os& os, ControllerContext& ctx) {
  if (ctx.data_state != Data_Calculation && ctx.data_state != Data_Calculation_wait) return;
  run_command(os, "vorclose.exe -exit -echo off");
  set_stop_note({});
  record_unit_state(os, ctx, Data_Calculation_wait);
  ctx.vorcnt_state = Vorcon_ConnectCompletion;
  print(os, msg::kClientConnectEnded, ctx.calculation_unit);
  record_connected(os, ctx);
  note_work_came(os, ctx);
}

void record_pop(Os& os, ControllerContext& ctx, bool ok) {
  record_move_outcome(os, ctx, ok, JournaledMove::pop, ctx.calculation_unit);
  // A unit popped back because nothing was selected is neither.
  if (!ok || (ctx.vorcnt_state != Vorcon_CalcWait && ctx.vorcnt_state != Vorcon_ConnectionWait)) return;
  const UnitEvent event = ctx.vorcnt_state == Vorcon_ConnectionWait ? UnitEvent::pop_send : UnitEvent::pop_compute;
  record_event(os, ctx, event, ctx.calculation_unit, ctx.path);
}

void run_execempty(Os& os, const ControllerContext& ctx) {
  if (ctx.execempty[0] == '\0') return;
  const int status = run_command(os, ctx.execempty);
  // The hook is the user's own command: it is waited for, and only a
  // failure is worth a line.
  if (status == -1)
    print_showing(os, ctx.execempty, msg::kEmptyHookNotStarted, kVerbatim);
  else if (status != 0)
    print_showing(os, ctx.execempty, msg::kEmptyHookFailed, kVerbatim, status);
}

}  // namespace vorcnt
