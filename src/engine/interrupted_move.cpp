#include "engine/interrupted_move.h"

#include "engine/digest.h"
#include "engine/move_record.h"

#include <algorithm>

#include "clientdata/report.h"
#include "engine/copy_check.h"
#include "engine/engine.h"
#include "engine/history.h"
#include "ground/messages.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/language.h"

namespace vorcnt::engine_detail {

namespace {

// True when `a` and `b` are two different files with the same bytes. One
// file reached by two names (a hard link) is no twin: removing either name
// would remove the only copy.
bool byte_twins(const std::string& a, const std::string& b) {
  FileIdentity ia;
  FileIdentity ib;
  if (!file_identity(a, &ia) || !file_identity(b, &ib) || ia == ib) return false;
  std::uintmax_t size_a = 0;
  std::uintmax_t size_b = 0;
  if (!file_size_of(a, &size_a) || !file_size_of(b, &size_b) || size_a != size_b) return false;
  return same_contents(a, b);
}

bool is_empty_outfile(const std::string& folder, const std::string& name) {
  std::string lower = name;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  std::uintmax_t size = 0;
  return lower == "outfile.vwu" && file_size_of(path_in(folder, name), &size) && size == 0;
}

// Only a work unit's own files tell a stopped move from a clean state: every
// work unit carries the same version and user-info files, and every pop of
// an empty unit leaves an empty output file, so twins of those prove
// nothing. A twin of one of these four is never seen in two folders unless
// a move was stopped.
bool is_evidence(const std::string& name) {
  std::string lower = name;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower == "work_unit.vwu" || lower == "result.vwu" || lower == "wtemp.vwu" || lower == "state.vwu";
}

struct Folder {
  std::string dir;                 // as in the command lines
  std::vector<std::string> names;  // sorted
  bool has(const std::string& name) const { return std::binary_search(names.begin(), names.end(), name); }
};

// True when every file of `part` is in `whole` with the same bytes and at
// least one of them is evidence. With `pop_outfile`, an empty "outfile.vwu"
// of `part` that `whole` lacks is passed over.
bool contained_in(const Folder& part, const Folder& whole, bool pop_outfile) {
  bool evidence = false;
  for (const std::string& name : part.names) {
    if (!whole.has(name)) {
      if (pop_outfile && is_empty_outfile(part.dir, name)) continue;
      return false;
    }
    if (!byte_twins(path_in(part.dir, name), path_in(whole.dir, name))) return false;
    if (is_evidence(name)) evidence = true;
  }
  return evidence;
}

// A folder that cannot be read shows no twins, so nothing in it is acted on.
Folder read_folder(const std::string& folder) {
  Folder f{folder, {}};
  if (!vwu_files(folder, &f.names).ok()) f.names.clear();
  return f;
}

}  // namespace

InterruptedMove find_interrupted_move(const char* path, int units) {
  const Folder client = read_folder(path);
  if (client.names.empty()) return {};
  units = std::clamp(units, 0, kMaxUnits);

  std::vector<Folder> unit_folders(static_cast<std::size_t>(units));
  for (int k = 0; k < units; ++k) {
    const std::string folder = unit_folder(path, k);
    if (is_directory(folder.c_str())) unit_folders[static_cast<std::size_t>(k)] = read_folder(folder);
  }

  // A push stopped after its copy (its delete not run or not finished), or a
  // pop stopped anywhere in its copy: the client folder only holds copies.
  for (int k = 0; k < units; ++k) {
    const Folder& unit = unit_folders[static_cast<std::size_t>(k)];
    if (!unit.names.empty() && contained_in(client, unit, true)) return {Leftover::client_copies, k};
  }

  // A push stopped during its copy, or a pop stopped during its delete: the
  // unit folder holds part of the set, the client folder all of it. The unit
  // with the most files is the one the move was working on.
  InterruptedMove best;
  std::size_t best_count = 0;
  for (int k = 0; k < units; ++k) {
    const Folder& unit = unit_folders[static_cast<std::size_t>(k)];
    if (unit.names.size() > best_count && contained_in(unit, client, false)) {
      best = {Leftover::unit_part, k};
      best_count = unit.names.size();
    }
  }
  return best;
}

namespace {

// What a file named in the record holds now.
enum class Fit { absent, whole, other, unknown };

Fit fit_of(const std::string& file, const RecordedFile& recorded) {
  switch (presence(file)) {
    case Presence::absent: return Fit::absent;
    case Presence::unknown: return Fit::unknown;
    case Presence::present: break;
  }
  if (!is_regular_file(file)) return Fit::other;
  Digest digest;
  std::uintmax_t size = 0;
  int error = 0;
  if (!digest_file(file, &digest, &size, &error)) return Fit::unknown;
  return size == recorded.size && digest == recorded.digest ? Fit::whole : Fit::other;
}

struct End {
  std::string label;   // "client" or "unitN": the name under damaged
  std::string folder;  // as in the command lines
  std::vector<Fit> fits;
  bool all(Fit f) const { return std::all_of(fits.begin(), fits.end(), [f](Fit x) { return x == f; }); }
};

End look_at(const std::string& label, const std::string& folder, const MoveRecord& record) {
  End end{label, folder, {}};
  for (const RecordedFile& f : record.files) end.fits.push_back(fit_of(path_in(folder, f.name), f));
  return end;
}

// A free name under `damaged` for files of `label`: "<label>", or
// "<label>-2" and upward when an earlier repair left one there. Past a
// thousand, the last is taken; a move onto an existing file then fails and
// says so.
std::string damaged_slot(const std::string& damaged, const std::string& label, const std::vector<std::string>& names) {
  constexpr int kMostSlots = 1000;
  std::string slot;
  for (int n = 1; n <= kMostSlots; ++n) {
    slot = n == 1 ? label : label + "-" + std::to_string(n);
    bool free = true;
    for (const std::string& name : names)
      if (presence(path_in(path_in(damaged, slot), name)) != Presence::absent) free = false;
    if (free) break;
  }
  return slot;
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

// Puts the files of `end` that are not what the record says into
// "damaged\<label>" whole, and removes those that are: the other end holds
// the move whole. False when any of them could not be dealt with.
bool clear_end(Os& os, const ControllerContext& ctx, const End& end, const MoveRecord& record) {
  bool ok = true;
  std::vector<std::string> odd;
  for (std::size_t i = 0; i < record.files.size(); ++i) {
    const std::string file = path_in(end.folder, record.files[i].name);
    if (end.fits[i] == Fit::whole && !os.disk.remove(file).ok()) ok = false;
    if (end.fits[i] == Fit::other) odd.push_back(record.files[i].name);
    if (end.fits[i] == Fit::unknown) ok = false;  // never judged, never touched
  }
  if (!odd.empty()) {
    const std::string damaged = damaged_folder(ctx.path);
    const std::string slot = damaged_slot(damaged, end.label, odd);
    const std::string dir = path_in(damaged, slot);
    std::vector<std::string> moved;
    // A folder that cannot be made shows as files that could not be set
    // aside; so does a link at either name, which would carry them outside.
    const bool made = os.disk.make_folders(damaged).ok() && os.disk.make_folders(dir).ok();
    for (const std::string& name : odd)
      if (made && presence(path_in(dir, name)) == Presence::absent && os.disk.rename(path_in(end.folder, name), path_in(dir, name)).ok())
        moved.push_back(name);
    if (!moved.empty() && (!os.disk.sync_folder(dir).ok() || !os.disk.sync_folder(damaged).ok())) ok = false;
    const std::string shown = "damaged\\" + slot;
    if (!moved.empty()) print(os, msg::kStrayFilesSetAside, end.label.c_str(), shown.c_str(), joined(moved).c_str());
    if (moved.size() < odd.size()) {
      print(os, msg::kStrayFilesNotSetAside, end.label.c_str(), shown.c_str());
      ok = false;
    }
  }
  return os.disk.sync_folder(end.folder).ok() && ok;
}

// Finishes the move the record names when its destination holds every file
// whole, undoes it when its source does, and only clears the record when the
// move had finished all but that.
// A stop with one line when the record's unit folder is not one the scan
// vouched for: past the units in use (a link planted there reaches any
// folder), or the client folder or another unit folder under its name.
bool unit_unfit_for_repair(Os& os, const ControllerContext& ctx, int k) {
  const std::string other = same_folder_as(ctx.path, k);
  if (!other.empty()) {
    print(os, msg::kUnitFolderNotOwn, k, other.c_str());
    return true;
  }
  // A missing folder is only the client folder's side to look at, as before.
  if (k < ctx.units_local || !name_taken(unit_folder(ctx.path, k).c_str())) return false;
  print_showing(os, move_record_path(ctx.path), msg::kRecordUnitNotInUse, kVerbatim, k, ctx.units_local);
  return true;
}

MoveOutcome recover_recorded_move(Os& os, ControllerContext& ctx, const MoveRecord& record) {
  const int k = record.unit;
  if (unit_unfit_for_repair(os, ctx, k)) {
    ctx.calculation_unit = NO_UNIT;
    ctx.vorcnt_state = Vorcnt_error;
    return MoveOutcome::stopped;
  }
  const bool push = record.direction == MoveDirection::push;
  const char* what = push ? "push" : "pop";
  const std::string unit = unit_folder(ctx.path, k);
  const std::string unit_label = "unit" + std::to_string(k);
  const End client = look_at("client", ctx.path, record);
  const End unit_end = look_at(unit_label, unit + "\\", record);
  const End& source = push ? client : unit_end;
  const End& destination = push ? unit_end : client;

  bool repaired = true;
  const char* detail;
  bool at_destination;  // where the unit's files are once put right
  if (source.all(Fit::absent)) {
    // Sources go only after every copy was checked and on the disk: the
    // move ended but for its record, and the client may have worked on its
    // files since.
    print(os, msg::kRecordAlreadyDone, k, what);
    detail = push ? "push had completed" : "pop had completed";
    at_destination = true;
  } else if (destination.all(Fit::whole)) {
    print(os, msg::kRecordFinishing, k, what);
    repaired = clear_end(os, ctx, source, record);
    detail = push ? "push completed" : "pop completed";
    at_destination = true;
  } else if (source.all(Fit::whole)) {
    print(os, msg::kRecordUndoing, k, what);
    repaired = clear_end(os, ctx, destination, record);
    detail = push ? "push undone" : "pop undone";
    at_destination = false;
  } else {
    print_showing(os, move_record_path(ctx.path), msg::kRecordNeitherEndWhole, k, what, kVerbatim);
    ctx.calculation_unit = NO_UNIT;
    ctx.vorcnt_state = Vorcnt_error;
    return MoveOutcome::stopped;
  }
  if (repaired) {
    const Status s = clear_move_record(os.disk, ctx.path);
    if (!s.ok()) {
      repaired = false;
      print(os, msg::kRecordCouldNotRepair, k, what, format_text(msg::kRecordStays, reason_of(s).c_str()).c_str());
    }
  } else {
    print(os, msg::kRecordCouldNotRepair, k, what, tr(msg::kFileNotRemovedOrSetAside));
  }
  if (!repaired) {
    ctx.calculation_unit = NO_UNIT;
    ctx.vorcnt_state = Vorcnt_error;
    return MoveOutcome::stopped;
  }
  record_event(os, ctx, UnitEvent::move_finished, k, unit + "\\", detail);
  if (k < ctx.units_local) ctx.unit_state[k] = classify_as_folder(unit);
  // Work in the client folder keeps the unit it came from.
  const bool work_in_client = push != at_destination;
  if (work_in_client && k < ctx.units_local) {
    ctx.calculation_unit = k;
    ctx.unit_state[k] = classify_folder(ctx.path);
    return MoveOutcome::unit_is_home;
  }
  return MoveOutcome::finished;
}

}  // namespace

namespace {

// Without a record: only a leftover that byte-identical twins prove.
MoveOutcome finish_leftover(Os& os, ControllerContext& ctx) {
  const InterruptedMove move = find_interrupted_move(ctx.path, ctx.units_local);
  const int k = move.unit;
  switch (move.kind) {
    case Leftover::none:
      return MoveOutcome::nothing_found;

    case Leftover::client_copies: {
      print(os, msg::kFinishMoveRemoveCopies, k, k);
      run_command(os, "del " + vwu_pattern(ctx.path));
      std::vector<std::string> left;
      if (vwu_files(ctx.path, &left).ok() && left.empty()) {
        record_event(os, ctx, UnitEvent::move_finished, k, unit_folder_text(ctx.path, k), "copies removed");
        return MoveOutcome::finished;
      }
      // Computing the copies here while unit k keeps the originals would do
      // that work unit twice.
      print(os, msg::kFinishMoveCopiesStay, k);
      record_move_outcome(os, ctx, false, JournaledMove::remove_copies, k);
      ctx.calculation_unit = NO_UNIT;
      ctx.vorcnt_state = Vorcnt_error;
      return MoveOutcome::stopped;
    }

    case Leftover::unit_part: {
      print(os, msg::kFinishMoveCompletePush,
            k, k);
      const std::int32_t client_state = classify_folder(ctx.path);  // "" is the current folder
      const bool pushed = unitpush(os, k, ctx.path);
      record_move_outcome(os, ctx, pushed, JournaledMove::push, k);
      if (!pushed) {
        // Every file stayed where it was; the work is computed in place and
        // its unit is still k, so the next swap retries the push.
        ctx.calculation_unit = k;
        ctx.unit_state[k] = client_state;
        return MoveOutcome::unit_is_home;
      }
      ctx.unit_state[k] = classify_as_folder(unit_folder(ctx.path, k));
      record_event(os, ctx, UnitEvent::move_finished, k, unit_folder_text(ctx.path, k), "push completed");
      return MoveOutcome::finished;
    }
  }
  return MoveOutcome::nothing_found;
}

}  // namespace

bool move_left_halfway(const char* path, int units) {
  MoveRecord record;
  std::string why;
  return read_move_record(path, &record, &why) != RecordRead::none ||
         find_interrupted_move(path, units).kind != Leftover::none;
}

MoveOutcome finish_interrupted_move(Os& os, ControllerContext& ctx) {
  if (ctx.mode != Mode_calc && ctx.mode != Mode_fill) return MoveOutcome::nothing_found;
  MoveRecord record;
  std::string why;
  switch (record_at_start(read_move_record(ctx.path, &record, &why))) {
    case RecordAtStart::nothing:
      return finish_leftover(os, ctx);
    case RecordAtStart::put_right:
      return recover_recorded_move(os, ctx, record);
    case RecordAtStart::emptied:
      // The move this one was to describe never began.
      print_showing(os, move_record_path(ctx.path), msg::kRecordCutShort, kVerbatim);
      if (!clear_move_record(os.disk, ctx.path).ok()) break;
      return finish_leftover(os, ctx);
    case RecordAtStart::stops:
      break;
  }
  print_showing(os, move_record_path(ctx.path), msg::kRecordUnusable, kVerbatim, tr(why.c_str()));
  ctx.calculation_unit = NO_UNIT;
  ctx.vorcnt_state = Vorcnt_error;
  return MoveOutcome::stopped;
}

}  // namespace vorcnt::engine_detail
