// The actions that drive the client through one work unit. The closer tool's
// command lines differ in whether ".exe" is given; both forms are kept as the
// installed tool has always been called.
#include <cstring>
#include <string>

#include "clientdata/report.h"
#include "engine/engine.h"
#include "platform/console.h"

namespace vorcnt {

namespace {

std::string client_command(const ControllerContext& ctx) { return std::string(ctx.path) + "Vorelith.exe"; }

// With no current unit (a run in Mode_error selects none) there is no entry
// to write; the table is never indexed with NO_UNIT.
void record_unit_state(Os& os, ControllerContext& ctx, std::int32_t state) {
  if (!is_unit_index(ctx.calculation_unit)) {
    print(os, "No unit is current (%d): its state %d is not recorded\n", ctx.calculation_unit, state);
    return;
  }
  ctx.unit_state[ctx.calculation_unit] = state;
}

}  // namespace

void calc_start(Os& os, ControllerContext& ctx) {
  run_command(os, client_command(ctx));
  os.clock.sleep_seconds(5);
  run_command(os, "vorclose -close -echo off");
  ctx.vorcnt_state = Vorcon_Calc;
}

int calc_check(Os& os, ControllerContext& ctx) {
  if (ctx.data_state != Data_Calculation_completion) return 0;
  run_command(os, "vorclose -exit -echo off");
  record_unit_state(os, ctx, Data_Calculation_completion);
  ctx.vorcnt_state = Vorcon_CalcCompletion;
  if (ctx.execfinish[0] != '\0') {
    print(os, "strlen:%s\n", ctx.execfinish);
    print(os, "strlen:%d\n", static_cast<int>(std::strlen(ctx.execfinish)));
    run_command(os, ctx.execfinish);
  }
  os.clock.sleep_seconds(30);
  return 1;
}

void connect_start(Os& os, ControllerContext& ctx) {
  run_command(os, client_command(ctx));
  os.clock.sleep_seconds(20);
  if (ctx.fill == 2) run_command(os, "vorclose.exe -connect");
  ctx.vorcnt_state = Vorcon_Connection;
  print(os, "[Unit%d] Data Conection Start.\n", ctx.calculation_unit);
}

void connect_check(Os& os, ControllerContext& ctx) {
  if (ctx.data_state != Data_Calculation && ctx.data_state != Data_Calculation_wait) return;
  run_command(os, "vorclose.exe -exit -echo off");
  record_unit_state(os, ctx, Data_Calculation_wait);
  ctx.vorcnt_state = Vorcon_ConnectCompletion;
  print(os, "[Unit%d] Data Conection Compleate.\n", ctx.calculation_unit);
}

}  // namespace vorcnt
