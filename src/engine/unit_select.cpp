// The choice of the next unit, and of computing or sending.
#include <algorithm>
#include <cstdint>
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

int units_in_table(const ControllerContext& ctx) { return std::clamp<int>(ctx.units_local, 0, kMaxUnits); }

// Computing mode. True when a unit was chosen; otherwise leaves Vorcnt_error
// and sending mode.
bool select_to_compute(Os& os, ControllerContext& ctx) {
  print(os, msg::kSelectComputeHeading);
  const int units = units_in_table(ctx);
  for (int i = 0; i < units; ++i) {
    if (ctx.unit_state[i] != Data_Calculation) continue;
    print(os, msg::kSelectComputeCandidate, i);
    ctx.calculation_unit = i;
    ctx.vorcnt_state = Vorcon_CalcWait;
    print(os, msg::kComputing, ctx.calculation_unit);
    return true;
  }

  // The oldest buffered work unit; the lowest number wins a tie.
  int candidate = NO_UNIT;
  std::int64_t oldest = 0;
  for (int i = 0; i < units; ++i) {
    const std::string work_unit = unit_file(ctx.path, i, "work_unit.vwu");
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
    print(os, msg::kWaitingToCompute, ctx.calculation_unit);
    return true;
  }

  print(os, msg::kNothingToCompute);
  record_event(os, ctx, UnitEvent::no_work, NO_UNIT, {});
  run_execempty(os, ctx);
  ctx.vorcnt_state = Vorcnt_error;
  ctx.mode = Mode_fill;
  return false;
}

// Sending mode. True when a unit was chosen; otherwise leaves computing mode.
bool select_to_send(Os& os, ControllerContext& ctx) {
  print(os, msg::kSelectSendHeading);
  const int units = units_in_table(ctx);
  for (int i = 0; i < units; ++i) {
    const std::int32_t state = ctx.unit_state[i];
    if (state != Data_Calculation_completion && state != Data_Receiving && state != Data_nothing) continue;
    if (waits_for_work(os, ctx, i)) continue;  // its project had no work: not before its retry
    print(os, msg::kSelectSendCandidate, i);
    ctx.calculation_unit = i;
    ctx.vorcnt_state = Vorcon_ConnectionWait;
    print(os, msg::kWaitingToSend, ctx.calculation_unit);
    return true;
  }
  print(os, msg::kFillDone);
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
  // Units waiting for work keep the run going: the connection's gate waits,
  // quietly, for the first retry.
  if (choose_waiting_unit(ctx)) return;
  print(os, msg::kSelectNothingLeft);
  ctx.vorcnt_state = Vorcnt_error;
}

}  // namespace vorcnt
