// The choice of the next unit, and of computing or sending.
#include <algorithm>
#include <cstdint>
#include <string>

#include "engine/engine.h"
#include "engine/history.h"
#include "ground/data_state.h"
#include "platform/console.h"
#include "platform/files.h"

namespace vorcnt {

namespace {

// CP932 texts.
constexpr char kComputing[] = "[Unit%d]:\x8c\x76\x8e\x5a\x92\x86\n";                    // computing
constexpr char kWaitingToCompute[] = "[Unit%d]:\x8c\x76\x8e\x5a\x91\xd2\x8b\x40\x92\x86\n";  // waiting
constexpr char kNothingToCompute[] =
    "\x8c\x76\x8e\x5a\x89\xc2\x94\x5c\x83\x86\x83\x6a\x83\x62\x83\x67\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb9"
    "\x82\xf1\n";
constexpr char kWaitingToSend[] = "[Unit%d]:\x91\x97\x90\x4d\x91\xd2\x8b\x40\x92\x86\n";

int units_in_table(const ControllerContext& ctx) { return std::clamp<int>(ctx.units_local, 0, kMaxUnits); }

// Computing mode. True when a unit was chosen; otherwise leaves Vorcnt_error
// and sending mode.
bool select_to_compute(Os& os, ControllerContext& ctx) {
  print(os, "[unitselect State_Data_Calculation]\n");
  const int units = units_in_table(ctx);
  for (int i = 0; i < units; ++i) {
    if (ctx.unit_state[i] != Data_Calculation) continue;
    print(os, "[Unit%d]:State_Data_Calculation\n", i);
    ctx.calculation_unit = i;
    ctx.vorcnt_state = Vorcon_CalcWait;
    print(os, kComputing, ctx.calculation_unit);
    return true;
  }

  // The oldest buffered work unit; the lowest number wins a tie.
  int candidate = NO_UNIT;
  std::int64_t oldest = 0;
  for (int i = 0; i < units; ++i) {
    const std::string work_unit = unit_folder(ctx.path, i) + "\\work_unit.vwu";
    std::int64_t mtime = 0;
    if (!file_mtime(work_unit.c_str(), &mtime)) continue;
    if (candidate == NO_UNIT || mtime < oldest) {
      candidate = i;
      oldest = mtime;
    }
  }
  if (candidate != NO_UNIT) {
    ctx.calculation_unit = candidate;
    ctx.vorcnt_state = Vorcon_CalcWait;
    print(os, kWaitingToCompute, ctx.calculation_unit);
    return true;
  }

  print(os, kNothingToCompute);
  record_event(os, ctx, UnitEvent::no_work, NO_UNIT, {});
  run_execempty(os, ctx);
  ctx.vorcnt_state = Vorcnt_error;
  ctx.mode = Mode_fill;
  return false;
}

// Sending mode. True when a unit was chosen; otherwise leaves computing mode.
bool select_to_send(Os& os, ControllerContext& ctx) {
  print(os, "[unitselect State_Data_Calculation_completion]\n");
  const int units = units_in_table(ctx);
  for (int i = 0; i < units; ++i) {
    const std::int32_t state = ctx.unit_state[i];
    if (state != Data_Calculation_completion && state != Data_Receiving && state != Data_nothing) continue;
    print(os, "[Unit%d]:Data Conection\n", i);
    ctx.calculation_unit = i;
    ctx.vorcnt_state = Vorcon_ConnectionWait;
    print(os, kWaitingToSend, ctx.calculation_unit);
    return true;
  }
  print(os, "FILL Completion\n");
  record_event(os, ctx, UnitEvent::fill_complete, NO_UNIT, {});
  ctx.mode = Mode_calc;
  return false;
}

}  // namespace

void unitselect(Os& os, ControllerContext& ctx) {
  if (ctx.mode != Mode_calc && ctx.mode != Mode_fill) return;
  // Each search runs at most once: nothing either looks at changes in
  // between, so a second round would fail the same way, for ever.
  bool computed = false;
  bool sent = false;
  for (;;) {
    if (ctx.mode == Mode_calc) {
      if (computed) break;
      computed = true;
      if (select_to_compute(os, ctx)) return;
    } else {
      if (sent) break;
      sent = true;
      if (select_to_send(os, ctx)) return;
    }
  }
  print(os, "unitselect: no unit to compute and none to send; stopping\n");
  ctx.vorcnt_state = Vorcnt_error;
}

}  // namespace vorcnt
