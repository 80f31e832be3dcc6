// The unit folders at start-up, and the per-pass look at the client folder.
#include <algorithm>
#include <string>

#include "clientdata/report.h"
#include "clientdata/snapshot.h"
#include "engine/engine.h"
#include "engine/history.h"
#include "engine/interrupted_move.h"
#include "engine/torn_copies.h"
#include "platform/console.h"
#include "platform/files.h"

namespace vorcnt {

std::string unit_folder(const char* path, int unit) { return std::string(path) + "unit" + std::to_string(unit); }

bool is_unit_index(int unit) { return unit >= 0 && unit < kMaxUnits; }

namespace {

// The readers append file names directly, so the folder is given with a
// trailing backslash (doubled for the client folder, which already ends in
// one; it names the same folder).
std::int32_t classify_as_folder(const std::string& folder) { return classify_folder((folder + "\\").c_str()); }

std::int32_t make_unit_folder(Os& os, const ControllerContext& ctx, int unit) {
  // A failed mkdir shows in the classification (a missing folder reads as
  // empty) and in whatever the interpreter printed.
  run_command(os, "mkdir " + unit_folder(ctx.path, unit));
  return classify_as_folder(unit_folder(ctx.path, unit));
}

// The folder the commands act on: `path`, or the current folder when it is
// empty ("%s\\" of an empty path would name the root).
std::int32_t classify_client_folder(const ControllerContext& ctx) { return classify_folder(ctx.path); }

// Where the loop starts on work found in the client folder, unless filling
// was asked for (then the first pass pushes it home, whatever it is).
void resume_by_client_folder(ControllerContext& ctx, std::int32_t client_state) {
  if (ctx.mode == Mode_fill) return;
  switch (client_state) {
    case Data_Calculation_completion:
      // A result finished while no controller ran: recorded by the first
      // pass exactly as one seen while running. Starting the client on it
      // would have it connect at once, with units still waiting.
      ctx.vorcnt_state = Vorcon_Calc;
      break;
    case Data_Calculation:
    case Data_Calculation_wait:
      ctx.vorcnt_state = Vorcon_CalcWait;  // a computation to resume
      break;
    default:
      // A send or a download under way when the controller stopped. The
      // closer has ended it; the first pass parks what is there, as after a
      // connection, and the selection then goes by the unit table.
      ctx.vorcnt_state = Vorcon_ConnectCompletion;
      break;
  }
}

}  // namespace

void unitscan(Os& os, ControllerContext& ctx) {
  int found = 0;
  for (; found < kMaxUnits; ++found) {
    const std::string folder = unit_folder(ctx.path, found);
    if (!path_exists(folder.c_str())) break;
    ctx.unit_state[found] = classify_as_folder(folder);
    print(os, "[unit%d] Dir find : %d\n", found, ctx.unit_state[found]);
  }
  // The table has 16 entries; a folder past unit15 is reported, never used.
  if (found == kMaxUnits && path_exists(unit_folder(ctx.path, kMaxUnits).c_str()))
    print(os, "unit%d and above are not used: 16 unit folders at most\n", kMaxUnits);

  if (ctx.mode == Mode_fill) {
    const int wanted = std::min<int>(ctx.units, kMaxUnits);
    for (; found < wanted; ++found) {
      ctx.unit_state[found] = make_unit_folder(os, ctx, found);
      print(os, "[Unit%d] Dir maiking. : %d\n", found, ctx.unit_state[found]);
    }
  }
  ctx.units_local = found;

  // Copies a power cut left torn are put right before any move is finished
  // or any unit chosen: a torn work unit must never be computed, nor a torn
  // result sent.
  if (engine_detail::mend_torn_copies(os, ctx))
    for (int j = 0; j < found; ++j) ctx.unit_state[j] = classify_as_folder(unit_folder(ctx.path, j));

  // A move stopped between its copy and its delete is finished first;
  // giving its copies a home of their own would do that work unit twice.
  switch (engine_detail::finish_interrupted_move(os, ctx)) {
    case engine_detail::MoveOutcome::nothing_found:
    case engine_detail::MoveOutcome::finished:
      break;
    case engine_detail::MoveOutcome::unit_is_home:
      resume_by_client_folder(ctx, classify_client_folder(ctx));
      return;
    case engine_detail::MoveOutcome::stopped:
      return;
  }
  const bool settings_ok = ctx.mode == Mode_calc || ctx.mode == Mode_fill;
  if (!settings_ok && engine_detail::find_interrupted_move(ctx.path, ctx.units_local).kind !=
                          engine_detail::Leftover::none) {
    // Those settings move nothing; computing the copies would do a unit twice.
    print(os, "The client folder holds a move that was stopped halfway; the settings are in error, so it is left "
              "as it is: correct them and restart\n");
    ctx.calculation_unit = NO_UNIT;
    ctx.vorcnt_state = Vorcnt_error;
    return;
  }

  const std::int32_t client_state = classify_client_folder(ctx);
  if (client_state == Data_nothing) {
    ctx.calculation_unit = NO_UNIT;
    if (!settings_ok) {
      // No unit is chosen with such settings, and the client started in an
      // empty folder would fetch work of its own.
      print(os, "The settings are in error and the client folder holds no work: nothing is started; correct them "
                "and restart\n");
      ctx.vorcnt_state = Vorcnt_error;
      return;
    }
    unitselect(os, ctx);
    // A selection that found nothing at all has already said so and ended
    // the run; there is no unit to pop.
    if (ctx.vorcnt_state == Vorcnt_error) return;
    const bool pop_ok = unitpop(os, ctx.calculation_unit, ctx.path, &ctx.failure_shown);
    record_pop(os, ctx, pop_ok);
    ctx.pop_pending = !pop_ok;
    return;
  }

  // The client folder holds work: give it the first empty unit folder.
  for (int j = 0; j < ctx.units_local; ++j) {
    if (ctx.unit_state[j] == Data_nothing) {
      ctx.calculation_unit = j;
      ctx.unit_state[j] = client_state;
      resume_by_client_folder(ctx, client_state);
      return;
    }
  }

  if (ctx.units_local >= kMaxUnits) {
    // No seventeenth folder, and pushing into an occupied one would mix two
    // work units: nothing can give this work a home, so nothing is done.
    print(os, "No free unit folder: all %d are in use and the client folder holds work; free one and restart\n",
          kMaxUnits);
    ctx.calculation_unit = NO_UNIT;
    ctx.vorcnt_state = Vorcnt_error;
    return;
  }
  const int k = ctx.units_local;
  ctx.unit_state[k] = make_unit_folder(os, ctx, k);
  print(os, "[Unit%d] Dir maiking SUB. : %d\n", k, ctx.unit_state[k]);
  ctx.calculation_unit = k;
  ++ctx.units_local;
  resume_by_client_folder(ctx, client_state);
}

void update_data_state(ControllerContext& ctx) {
  ClientReport report;
  init_report(report);
  ClientSnapshot snap;
  clear_progress(snap);
  read_snapshot(ctx.path, snap);
  classify_snapshot(snap, report);
  ctx.data_state = report.data_state;
  ctx.progress = report.progress;
}

}  // namespace vorcnt
