// Push and pop: the only operations that move a work unit's files. Each move
// first writes a record of what it moves; each copy is checked against that
// record and flushed to the disk before its source is deleted, so neither a
// failed copy nor a power cut costs a file; and a move counts only once its
// source is gone, so a unit is never left in two places to be computed or
// sent twice.
#include <cerrno>
#include <string>
#include <vector>

#include "engine/copy_check.h"
#include "engine/engine.h"
#include "engine/history.h"
#include "engine/interrupted_move.h"
#include "engine/move_record.h"
#include "ground/messages.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/language.h"

namespace vorcnt {

using engine_detail::check_copy;
using engine_detail::CopyCheck;

std::string reason_of(const Status& s) {
  return tr(s.error() == ELOOP ? msg::kNameIsAForeignLink : s.reason().c_str());
}

void report_failure(Os& os, std::string* shown, const std::string& line, std::string_view text) {
  if (shown != nullptr) {
    std::string whole = line;
    if (const std::size_t at = whole.find(kVerbatim); at != std::string::npos) whole.replace(at, 1, text);
    if (*shown == whole) return;
    *shown = whole;
  }
  write_showing(os, text, line);
}

void report_cleared(Os& os, std::string* shown, int unit, const char* name) {
  if (shown == nullptr || shown->empty()) return;
  shown->clear();
  print(os, msg::kMoveRecovered, unit, name);
}

namespace {

// The folder as a reason names it: the current folder is ".".
std::string named(const std::string& folder) { return folder.empty() ? std::string(".") : folder; }

std::string not_synced(const std::string& name, const Status& s) {
  return format_text(msg::kNotOnDisk, name.c_str(), reason_of(s).c_str());
}

// One push or pop under way, from its record to its end. It knows which
// names the destination held before the copy, so a move that fails takes
// back exactly what its copy wrote and nothing else.
class RecordedMove {
 public:
  RecordedMove(Os& os, const char* path, MoveDirection direction, int unit, std::string from, std::string to)
      : os_(os), path_(path), from_(std::move(from)), to_(std::move(to)) {
    record_.direction = direction;
    record_.unit = unit;
  }

  // Reads the sources and writes the record. Empty, or why the move cannot
  // begin; then nothing has changed.
  std::string begin() {
    // A plain file named like a unit folder holds nothing to lose, and a
    // missing folder nothing to copy: the check after the copy says so.
    if (!from_.empty() && !is_directory(from_.c_str())) {
      source_is_folder_ = false;
      return std::string();
    }
    std::string why;
    if (!describe_sources(from_, &record_.files, &why)) return why;
    for (const RecordedFile& f : record_.files) {
      const NameLook look = look_at_name(path_in(to_, f.name));
      // Not every copy command refuses to write through a link.
      if (look.link) return format_text(msg::kDestinationIsALink, f.name.c_str());
      there_before_.push_back(look.presence != Presence::absent);
    }
    // A move of nothing needs no record: no file can be lost by it.
    if (record_.files.empty()) return std::string();
    // The record must describe what the disk holds: the client writes its
    // files without syncing them, and a cut would leave sources that match
    // no digest, so that the move could be neither finished nor undone. A
    // unit folder's files came there by a push, which synced them.
    if (record_.direction == MoveDirection::push && !sync_sources()) return sources_unsynced_;
    const Status s = write_move_record(os_.disk, path_, record_);
    if (!s.ok()) return format_text(msg::kRecordNotWritten, reason_of(s).c_str());
    recorded_ = true;
    return std::string();
  }

  // The sources' data and names on the disk; false with sources_unsynced_
  // saying which could not be flushed.
  bool sync_sources() {
    for (const RecordedFile& f : record_.files) {
      const Status s = os_.disk.sync_file(path_in(from_, f.name));
      if (!s.ok()) {
        sources_unsynced_ = not_synced(f.name, s);
        return false;
      }
    }
    if (const Status s = os_.disk.sync_folder(from_); !s.ok()) {
      sources_unsynced_ = not_synced(named(from_), s);
      return false;
    }
    return true;
  }

  const std::vector<RecordedFile>& files() const { return record_.files; }

  // The copies, and the names they were given, on the disk; empty, or the
  // file that could not be flushed and why.
  std::string copies_on_disk() {
    if (os_.shell.copies_reach_disk()) return std::string();
    for (const RecordedFile& f : record_.files) {
      const Status s = os_.disk.sync_file(path_in(to_, f.name));
      if (!s.ok()) return not_synced(f.name, s);
    }
    const Status s = os_.disk.sync_folder(to_);
    if (!s.ok()) return not_synced(named(to_), s);
    return std::string();
  }

  // After a failure before the delete: the sources were never touched, so
  // what the copy wrote goes, and then the record.
  void abandon() {
    bool clean = true;
    for (std::size_t i = 0; i < record_.files.size(); ++i)
      if (!there_before_[i] && !os_.disk.remove(path_in(to_, record_.files[i].name)).ok()) clean = false;
    // A record left behind is resolved by the next start, from the files.
    if (clean && recorded_ && clear_move_record(os_.disk, path_).ok()) recorded_ = false;
  }

  // After the delete: true when no "*.vwu" is left in the source folder and
  // its emptying is on the disk. Otherwise the move is undone, so that the
  // unit is whole in one place again: a file the delete took is brought back
  // from its copy, and then the copies go. `why` names what stayed and, where
  // known, the cause.
  bool source_gone(std::string* why) {
    const Status swept = source_is_folder_ ? os_.disk.sync_folder(from_) : Status();
    std::vector<std::string> left;
    // A folder that cannot be read may still hold what the delete left: the
    // move is undone as for a file that stayed.
    const Status listed = source_is_folder_ ? vwu_files(from_, &left) : Status();  // a plain file holds none
    if (listed.ok() && left.empty()) {
      if (swept.ok()) return true;
      // The files are whole at the destination and the record still says
      // so: a cut now is finished by the next start, and a retry finds
      // nothing left to move.
      *why = not_synced(named(from_), swept);
      return false;
    }
    const Status problem = check_writable(from_.c_str());
    bool undone = true;
    for (const RecordedFile& f : record_.files) {
      const std::string original = path_in(from_, f.name);
      const std::string copy = path_in(to_, f.name);
      if (presence(original) != Presence::present && !os_.disk.copy_new(copy, original).ok()) {
        undone = false;
        continue;
      }
      if (!os_.disk.remove(copy).ok()) undone = false;
    }
    const char* stayed = listed.ok() ? left.front().c_str() : nullptr;
    if (stayed == nullptr)
      *why = format_text(undone ? msg::kSourcesUnlistedUndone : msg::kSourcesUnlistedNotUndone, named(from_).c_str());
    else if (problem.ok())
      *why = format_text(undone ? msg::kSourceStayedUndone : msg::kSourceStayedNotUndone, stayed);
    else
      *why = format_text(undone ? msg::kSourceStayedBecauseUndone : msg::kSourceStayedBecauseNotUndone, stayed,
                         tr(problem.reason().c_str()));
    if (undone && recorded_ && os_.disk.sync_folder(from_).ok() && clear_move_record(os_.disk, path_).ok())
      recorded_ = false;
    return false;
  }

  // The last step: the record goes once the sources are gone for good.
  // Empty, or why the record stays.
  std::string end() {
    if (!recorded_) return std::string();
    const Status s = clear_move_record(os_.disk, path_);
    if (!s.ok()) return reason_of(s);
    recorded_ = false;
    return std::string();
  }

 private:
  Os& os_;
  const char* path_;
  std::string from_;
  std::string to_;
  MoveRecord record_;
  std::vector<bool> there_before_;
  bool recorded_ = false;
  bool source_is_folder_ = true;
  std::string sources_unsynced_;
};

// Empty, or the line that says why unit folder `unit` cannot take a push.
std::string refused_push(const char* path, int unit) {
  const std::string folder = unit_folder(path, unit);
  if (!is_directory(folder.c_str())) return format_text(msg::kPushNotAFolder, unit, unit);
  const std::string other = same_folder_as(path, unit);
  if (!other.empty()) return format_text(msg::kPushSameFolder, unit, unit, other.c_str());
  return std::string();
}

// The end of a move whose files all arrived: the record goes, or a line says
// it stays; an earlier failure has cleared either way.
void report_end(Os& os, std::string* shown, int unit, const char* name, const std::string& left) {
  if (left.empty()) report_cleared(os, shown, unit, name);
  else report_failure(os, shown, format_text(msg::kRecordNotEmptied, unit, name, kVerbatim), left);
}

}  // namespace

bool unitpush(Os& os, int unit, const char* path, std::string* shown) {
  // With no current unit there is no folder to push into; the client
  // folder's files simply stay where they are.
  if (!is_unit_index(unit)) {
    print(os, msg::kPushWithoutUnit, unit);
    return false;
  }
  print(os, msg::kPushBegins, unit);
  const std::string folder = unit_folder(path, unit);
  const std::string failed = format_text(msg::kPushFailedKeptInClient, unit, kVerbatim);
  // "copy *.vwu X" into a missing folder or onto a plain file would merge
  // every file into one file named X, and a unit folder that is the client
  // folder would have the delete take the only copy: such a push is not
  // even started.
  if (const std::string refused = refused_push(path, unit); !refused.empty()) {
    report_failure(os, shown, refused);
    return false;
  }
  const std::string client(path);
  RecordedMove move(os, path, MoveDirection::push, unit, client, folder);
  if (const std::string why = move.begin(); !why.empty()) {
    report_failure(os, shown, failed, why);
    return false;
  }
  const int status = run_command(os, "copy " + vwu_pattern(client) + " " + folder);
  const CopyCheck check = check_copy(client, folder, status, move.files());
  // Deleting now could lose the only copy of the work unit.
  std::string why = check.ok ? move.copies_on_disk() : check.reason;
  if (!why.empty()) {
    move.abandon();
    report_failure(os, shown, failed, why);
    return false;
  }
  os.clock.sleep_seconds(1);
  run_command(os, "del " + vwu_pattern(client));
  if (!move.source_gone(&why)) {
    report_failure(os, shown, failed, why);
    return false;
  }
  report_end(os, shown, unit, msg::kPushName, move.end());
  return true;
}

bool unitpop(Os& os, int unit, const char* path, std::string* shown) {
  if (!is_unit_index(unit)) {
    print(os, msg::kPopWithoutUnit, unit);
    return false;
  }
  print(os, msg::kPopBegins, unit);
  const std::string client(path);
  const std::string unit_text = unit_folder_text(path, unit);
  const std::string failed = format_text(msg::kPopFailedKeptInUnit, unit, kVerbatim, unit);
  // The client folder itself under a unit's name: the delete would take
  // what the copy had just "moved".
  if (const std::string other = same_folder_as(path, unit); !other.empty()) {
    report_failure(os, shown, format_text(msg::kPopSameFolder, unit, unit, other.c_str(), unit));
    return false;
  }
  RecordedMove move(os, path, MoveDirection::pop, unit, unit_text, client);
  // The destination is the client folder without its trailing separator
  // (with an empty path, the copy loses its trailing blank instead).
  std::string copy = "copy " + vwu_pattern(unit_text) + " " + client;
  copy.pop_back();
  if (const std::string why = move.begin(); !why.empty()) {
    report_failure(os, shown, failed, why);
    return false;
  }
  const int status = run_command(os, copy);
  const CopyCheck check = check_copy(unit_text, client, status, move.files());

  const std::string outfile = client_file(path, "outfile.vwu");
  bool made_outfile = false;
  if (!path_exists(outfile.c_str())) {
    made_outfile = os.disk.write_file(outfile, "").ok();
    if (!made_outfile) print(os, msg::kOutputFileMissing);
  }

  // On failure the unit stays whole in its folder, and an output file made
  // for it goes again: the client folder shows no sign of a unit.
  const auto fail = [&](const std::string& why) {
    // One left behind is empty, which every start reads as no output.
    if (made_outfile) (void)os.disk.remove(outfile);
    report_failure(os, shown, failed, why);
    return false;
  };
  std::string why = check.ok ? move.copies_on_disk() : check.reason;
  if (!why.empty()) {
    move.abandon();
    return fail(why);
  }
  os.clock.sleep_seconds(1);
  run_command(os, "del " + vwu_pattern(unit_text));
  if (!move.source_gone(&why)) return fail(why);
  report_end(os, shown, unit, msg::kPopName, move.end());
  return true;
}

void unitswap(Os& os, ControllerContext& ctx) {
  // The client folder still holds the old unit after a failed push: popping
  // another one on top of it would mix two work units. Keeping vorcnt_state
  // makes the next pass try the swap again.
  const int pushed = ctx.calculation_unit;
  const bool push_ok = unitpush(os, pushed, ctx.path, &ctx.failure_shown);
  record_move_outcome(os, ctx, push_ok, JournaledMove::push, pushed);
  if (!push_ok) return;
  record_event(os, ctx, UnitEvent::push, pushed, unit_folder_text(ctx.path, pushed));
  if (ctx.mode != Mode_calc && ctx.mode != Mode_fill) {
    // With settings in error no unit is chosen: going on would push and pop
    // the same unit, or start the client with none, for ever.
    print(os, msg::kUnitHomeSettingsInError,
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
