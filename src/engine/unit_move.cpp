// Push and pop: the only operations that move a work unit's files. Each copy
// is checked byte for byte and flushed to the disk before its source is
// deleted, so neither a failed copy nor a power cut costs a file; and a move
// counts only once its source is gone, so a unit is never left in two places
// to be computed or sent twice.
#include <string>
#include <vector>

#include "engine/copy_check.h"
#include "engine/engine.h"
#include "engine/history.h"
#include "engine/interrupted_move.h"
#include "ground/messages.h"
#include "platform/console.h"
#include "platform/files.h"

namespace vorcnt {

using engine_detail::check_copy;
using engine_detail::CopyCheck;

void report_failure(Os& os, std::string* shown, const std::string& line) {
  report_failure(os, shown, line, "", "");
}

void report_failure(Os& os, std::string* shown, const std::string& before, const std::string& text,
                    const std::string& after) {
  if (shown != nullptr) {
    const std::string line = before + text + after;
    if (*shown == line) return;
    *shown = line;
  }
  print_verbatim(os, before, text, after + "\n");
}

void report_cleared(Os& os, std::string* shown, const std::string& what) {
  if (shown == nullptr || shown->empty()) return;
  shown->clear();
  print(os, msg::kTheEarlierFailureHasCleared, what.c_str());
}

namespace {

// The copies must be on the disk before their sources go: until then a power
// cut could leave only empty or zero-filled copies behind. Returns the file
// that could not be flushed, or "".
std::string copies_on_disk(const std::string& folder, const CopyCheck& check) {
  std::string failed;
  if (sync_files(folder, check.files, &failed)) return std::string();
  return failed.empty() ? std::string(msg::kACopy) : failed;
}

// After the delete of a move from `from` to `to` of the files `moved`: true
// when no "*.vwu" is left in `from`. Otherwise the move is undone, so that
// the unit is whole in one place again: a file still in `from` loses its
// copy in `to`, and a file the delete did take is first brought back. `why`
// then names the file that stayed and, where known, the cause.
bool source_gone(const std::string& from, const std::string& to, const std::vector<std::string>& moved,
                 std::string* why) {
  const std::vector<std::string> left = vwu_files(from);
  if (left.empty()) return true;
  const std::string problem = write_problem(from.c_str());
  *why = left.front() + msg::kCouldNotBeDeleted + (problem.empty() ? std::string() : " (" + problem + ")");
  bool undone = true;
  for (const std::string& name : moved) {
    const std::string original = path_in(from, name);
    const std::string copy = path_in(to, name);
    if (presence(original) != Presence::present && !copy_new_file(copy, original)) {
      undone = false;
      continue;
    }
    if (!remove_file(copy)) undone = false;
  }
  *why += undone ? msg::kTheCopiesWereRemoved : msg::kTheCopiesCouldNotAllBeRemoved;
  return false;
}

std::string unit_label(int unit, const char* what) { return msg::kUnitLabelOpen + std::to_string(unit) + msg::kUnitLabelClose + what; }

}  // namespace

bool unitpush(Os& os, int unit, const char* path, std::string* shown) {
  // With no current unit there is no folder to push into; the client
  // folder's files simply stay where they are.
  if (!is_unit_index(unit)) {
    print(os, msg::kPushSkippedNoUnitIsCurrent, unit);
    return false;
  }
  print(os, msg::kUnitPush, unit);
  const std::string folder = unit_folder(path, unit);
  const std::string failed = unit_label(unit, msg::kPushFailed);
  const std::string kept = msg::kFilesKeptInTheClientFolder;
  // "copy *.vwu X" into a missing folder or onto a plain file would merge
  // every file into one file named X; such a push is not even started.
  if (!is_directory(folder.c_str())) {
    report_failure(os, shown, failed + msg::kUnitFolderPrefix + std::to_string(unit) + msg::kIsNotAFolderFilesKept);
    return false;
  }
  const std::string client(path);
  const int status = run_command(os, "copy " + client + "*.vwu " + folder);
  const CopyCheck check = check_copy(client, folder, status);
  if (!check.ok) {
    // Deleting now could lose the only copy of the work unit.
    report_failure(os, shown, failed, check.reason, kept);
    return false;
  }
  if (const std::string unsynced = copies_on_disk(folder, check); !unsynced.empty()) {
    report_failure(os, shown, failed, unsynced, msg::kCouldNotBeWrittenToTheDisk + kept);
    return false;
  }
  os.clock.sleep_seconds(1);
  run_command(os, "del " + client + "*.vwu");
  // A cut now would only bring a deleted source back (which the start-up
  // scan sorts out), but it would be noise.
  sync_folder(client);
  std::string why;
  if (!source_gone(client, folder, check.files, &why)) {
    report_failure(os, shown, failed, why, kept);
    return false;
  }
  report_cleared(os, shown, unit_label(unit, msg::kPush));
  return true;
}

bool unitpop(Os& os, int unit, const char* path, std::string* shown) {
  if (!is_unit_index(unit)) {
    print(os, msg::kPopSkippedNoUnitIsCurrent, unit);
    return false;
  }
  print(os, msg::kUnitPop, unit);
  const std::string client(path);
  const std::string folder = unit_folder(path, unit);
  // The destination is the client folder without its trailing separator
  // (with an empty path, the copy loses its trailing blank instead).
  std::string copy = "copy " + folder + "\\*.vwu " + client;
  copy.pop_back();
  const int status = run_command(os, copy);
  const CopyCheck check = check_copy(folder + "\\", client, status);

  const std::string outfile = client + "outfile.vwu";
  bool made_outfile = false;
  if (!path_exists(outfile.c_str())) {
    made_outfile = create_empty_file(outfile.c_str());
    if (!made_outfile) print(os, msg::kOutfileVwuNotFound);
  }

  // On failure the unit stays whole in its folder, and an output file made
  // for it goes again: the client folder shows no sign of a unit.
  const auto fail = [&](const std::string& why, const std::string& more) {
    if (made_outfile) remove_file(path_in(client, "outfile.vwu"));
    report_failure(os, shown, unit_label(unit, msg::kPopFailed), why, more + msg::kFilesKeptInUnit + std::to_string(unit));
    return false;
  };
  if (!check.ok) return fail(check.reason, "");
  if (const std::string unsynced = copies_on_disk(client, check); !unsynced.empty())
    return fail(unsynced, msg::kCouldNotBeWrittenToTheDisk);
  os.clock.sleep_seconds(1);
  run_command(os, "del " + folder + "\\*.vwu");
  sync_folder(folder + "\\");
  std::string why;
  if (!source_gone(folder, client, check.files, &why)) return fail(why, "");
  report_cleared(os, shown, unit_label(unit, msg::kPop));
  return true;
}

void unitswap(Os& os, ControllerContext& ctx) {
  // The client folder still holds the old unit after a failed push: popping
  // another one on top of it would mix two work units. Keeping vorcnt_state
  // makes the next pass try the swap again.
  const int pushed = ctx.calculation_unit;
  const bool push_ok = unitpush(os, pushed, ctx.path, &ctx.failure_shown);
  record_move_outcome(os, ctx, push_ok, "push", pushed);
  if (!push_ok) return;
  record_event(os, ctx, UnitEvent::push, pushed, unit_folder(ctx.path, pushed) + "\\");
  if (ctx.mode != Mode_calc && ctx.mode != Mode_fill) {
    // With settings in error no unit is chosen: going on would push and pop
    // the same unit, or start the client with none, for ever.
    print(os, msg::kUnitIsHomeTheSettingsAre,
          ctx.calculation_unit);
    ctx.vorcnt_state = Vorcnt_error;
    return;
  }
  unitselect(os, ctx);
  // When the selection found nothing to compute and nothing to send, it left
  // calculation_unit as it was and Vorcnt_error ends the loop after this
  // pass; popping that unit puts it back into the client folder, where the
  // next run finds it.
  const bool pop_ok = unitpop(os, ctx.calculation_unit, ctx.path, &ctx.failure_shown);
  record_pop(os, ctx, pop_ok);
  ctx.pop_pending = !pop_ok;
}

}  // namespace vorcnt
