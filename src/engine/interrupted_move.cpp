#include "engine/interrupted_move.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "clientdata/report.h"
#include "engine/copy_check.h"
#include "engine/engine.h"
#include "engine/history.h"
#include "ground/messages.h"
#include "platform/console.h"
#include "platform/files.h"

namespace vorcnt::engine_detail {

namespace {

enum class Twin { same, shorter, differ };

// How file `part` relates to file `whole`: the same bytes, a proper prefix of
// them (what a copy stopped halfway leaves), or anything else.
Twin compare_files(const std::string& part, const std::string& whole) {
  std::uintmax_t part_size = 0;
  if (!file_size_of(part, &part_size)) return Twin::differ;
  std::uintmax_t whole_size = 0;
  if (!file_size_of(whole, &whole_size) || part_size > whole_size) return Twin::differ;
  std::ifstream a(part, std::ios::binary);
  std::ifstream b(whole, std::ios::binary);
  if (!a || !b) return Twin::differ;
  char buf_a[8192];
  char buf_b[8192];
  for (std::uintmax_t left = part_size; left > 0;) {
    const auto n = static_cast<std::streamsize>(std::min<std::uintmax_t>(left, sizeof buf_a));
    a.read(buf_a, n);
    b.read(buf_b, n);
    if (a.gcount() != n || b.gcount() != n || std::memcmp(buf_a, buf_b, static_cast<std::size_t>(n)) != 0)
      return Twin::differ;
    left -= static_cast<std::uintmax_t>(n);
  }
  return part_size == whole_size ? Twin::same : Twin::shorter;
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
// nothing. A twin of one of these four (or the start of one, where a copy
// was cut short) is never seen in two folders unless a move was stopped.
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

// True when every file of `part` is in `whole` with the same bytes (one may
// be cut short) and at least one of them is evidence. With `pop_outfile`, an
// empty "outfile.vwu" of `part` that `whole` lacks is passed over.
bool contained_in(const Folder& part, const Folder& whole, bool pop_outfile) {
  bool evidence = false;
  bool cut_short = false;
  for (const std::string& name : part.names) {
    if (!whole.has(name)) {
      if (pop_outfile && is_empty_outfile(part.dir, name)) continue;
      return false;
    }
    switch (compare_files(path_in(part.dir, name), path_in(whole.dir, name))) {
      case Twin::same:
        break;
      case Twin::shorter:
        // Only the one file a stopped copy was writing can be short.
        if (cut_short) return false;
        cut_short = true;
        break;
      case Twin::differ:
        return false;
    }
    if (is_evidence(name)) evidence = true;
  }
  return evidence;
}

Folder read_folder(const std::string& folder) { return Folder{folder, vwu_files(folder)}; }

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

MoveOutcome finish_interrupted_move(Os& os, ControllerContext& ctx) {
  if (ctx.mode != Mode_calc && ctx.mode != Mode_fill) return MoveOutcome::nothing_found;
  const InterruptedMove move = find_interrupted_move(ctx.path, ctx.units_local);
  const int k = move.unit;
  switch (move.kind) {
    case Leftover::none:
      return MoveOutcome::nothing_found;

    case Leftover::client_copies:
      print(os, msg::kFinishMoveRemoveCopies,
            k, k);
      run_command(os, "del " + std::string(ctx.path) + "*.vwu");
      if (vwu_files(ctx.path).empty()) {
        record_event(os, ctx, UnitEvent::move_finished, k, unit_folder(ctx.path, k) + "\\", "copies removed");
        return MoveOutcome::finished;
      }
      // Computing the copies here while unit k keeps the originals would do
      // that work unit twice.
      print(os, msg::kFinishMoveCopiesStay, k);
      record_move_outcome(os, ctx, false, "del", k);
      ctx.calculation_unit = NO_UNIT;
      ctx.vorcnt_state = Vorcnt_error;
      return MoveOutcome::stopped;

    case Leftover::unit_part: {
      print(os, msg::kFinishMoveCompletePush,
            k, k);
      const std::int32_t client_state = classify_folder(ctx.path);  // "" is the current folder
      const bool pushed = unitpush(os, k, ctx.path);
      record_move_outcome(os, ctx, pushed, "push", k);
      if (!pushed) {
        // Every file stayed where it was; the work is computed in place and
        // its unit is still k, so the next swap retries the push.
        ctx.calculation_unit = k;
        ctx.unit_state[k] = client_state;
        return MoveOutcome::unit_is_home;
      }
      ctx.unit_state[k] = classify_as_folder(unit_folder(ctx.path, k));
      record_event(os, ctx, UnitEvent::move_finished, k, unit_folder(ctx.path, k) + "\\", "push completed");
      return MoveOutcome::finished;
    }
  }
  return MoveOutcome::nothing_found;
}

}  // namespace vorcnt::engine_detail
