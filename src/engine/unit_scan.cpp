// The unit folders at start-up, and the per-pass look at the client folder.
#include <algorithm>
#include <string>

#include "clientdata/report.h"
#include "clientdata/snapshot.h"
#include "engine/engine.h"
#include "engine/history.h"
#include "engine/interrupted_move.h"
#include "engine/unit_folders.h"
#include "ground/messages.h"
#include "platform/console.h"
#include "platform/files.h"

namespace vorcnt {

namespace {

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

// Reads the unit table from the unit folders, making the missing ones when
// filling.
void scan_unit_folders(Os& os, ControllerContext& ctx) {
  int found = count_unit_folders(ctx.path);
  for (int j = 0; j < found; ++j) {
    ctx.unit_state[j] = classify_as_folder(unit_folder(ctx.path, j));
    print(os, msg::kScanUnitFound, j, ctx.unit_state[j]);
  }
  // The table has 16 entries; a folder past unit15 is reported, never used.
  if (found == kMaxUnits && path_exists(unit_folder(ctx.path, kMaxUnits).c_str()))
    print(os, msg::kScanUnitsPastLimit, kMaxUnits);

  if (ctx.mode == Mode_fill) {
    const int wanted = std::min<int>(ctx.units, kMaxUnits);
    for (; found < wanted && !unit_name_not_folder(ctx.path, found); ++found) {
      ctx.unit_state[found] = make_unit_folder(os, ctx, found);
      print(os, msg::kScanUnitMadeForFill, found, ctx.unit_state[found]);
    }
  }
  // A name taken by a file, a device or a link to nothing ends the units in
  // use like a gap; nothing is made over it or moved through it.
  if (found < kMaxUnits && unit_name_not_folder(ctx.path, found)) print(os, msg::kScanUnitNotAFolder, found, found);
  ctx.units_local = found;
}

// A unit folder that is the client folder, or another unit folder, under a
// second name: a move between the two would delete what it had just copied,
// and their files would look like each other's copies. Each one found is
// named, and nothing is moved.
bool units_are_folders_of_their_own(Os& os, const ControllerContext& ctx) {
  bool own = true;
  // Every name, not only those in use: a fill, a move record or a later
  // start may reach past a gap.
  for (int j = 0; j < kMaxUnits; ++j) {
    const std::string other = same_folder_as(ctx.path, j, j);
    if (other.empty()) continue;
    print(os, msg::kUnitFolderNotOwn, j, other.c_str());
    own = false;
  }
  return own;
}

// The client folder holds work: give it the first empty unit folder, or a
// new one.
void home_client_work(Os& os, ControllerContext& ctx, std::int32_t client_state) {
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
    print(os, msg::kScanNoFreeUnit,
          kMaxUnits);
    ctx.calculation_unit = NO_UNIT;
    ctx.vorcnt_state = Vorcnt_error;
    return;
  }
  const int k = ctx.units_local;
  if (unit_name_not_folder(ctx.path, k)) {
    // Made over, the name would still be no folder, and every push fail.
    print(os, msg::kScanNoHomeNotAFolder, k);
    ctx.calculation_unit = NO_UNIT;
    ctx.vorcnt_state = Vorcnt_error;
    return;
  }
  ctx.unit_state[k] = make_unit_folder(os, ctx, k);
  print(os, msg::kScanUnitMadeForClientWork, k, ctx.unit_state[k]);
  ctx.calculation_unit = k;
  ++ctx.units_local;
  resume_by_client_folder(ctx, client_state);
}

}  // namespace

void unitscan(Os& os, ControllerContext& ctx) {
  if (!units_are_folders_of_their_own(os, ctx)) {
    ctx.calculation_unit = NO_UNIT;
    ctx.vorcnt_state = Vorcnt_error;
    return;
  }
  scan_unit_folders(os, ctx);

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
  if (!settings_ok && engine_detail::move_left_halfway(ctx.path, ctx.units_local)) {
    // Those settings move nothing; computing the copies would do a unit twice.
    print(os, msg::kHalfMoveInError);
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
      print(os, msg::kNoWorkInError);
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

  home_client_work(os, ctx, client_state);
}

void update_data_state(ControllerContext& ctx) {
  ClientReport report;
  init_report(report);
  ClientSnapshot snap;
  clear_progress(snap);
  read_decision_snapshot(ctx.path, snap);
  classify_snapshot(snap, report);
  ctx.data_state = report.data_state;
  ctx.progress = report.progress;
}

}  // namespace vorcnt
