// Reading the buffer: every folder as the controller classifies it, read
// again while a move beside it changes the files.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <filesystem>
#include <string_view>
#include <thread>

#include "engine/controller_status.h"
#include "engine/move_record.h"
#include "engine/unit_folders.h"
#include "engine/work_wait.h"
#include "folder_marks.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/language.h"
#include "platform/path_text.h"
#include "report_text.h"
#include "vorstat_report.h"

namespace vorcnt::vorstat {

namespace {

// Seconds from `then` to `now`; 0, with `ahead` set, for a time to come.
std::int64_t age_of(std::int64_t then, std::int64_t now, bool* ahead) {
  *ahead = then > now;
  return *ahead ? 0 : now - then;
}

void count_folder(const FolderStatus& f, bool client, BufferCounts* c) {
  const std::int32_t state = f.report.data_state;
  if (client && state == Data_Calculation) {
    c->computing = true;
    const double done = std::isfinite(f.report.progress) ? std::clamp(f.report.progress / 100.0, 0.0, 1.0) : 0.0;
    c->running_left = 1.0 - done;
  } else if (state == Data_Calculation_wait || state == Data_Calculation) {
    ++c->to_compute;
  } else if (state == Data_Calculation_completion || state == Data_Sending) {
    ++c->to_send;
  }
}

FolderStatus read_folder(int unit, const std::string& folder, std::int64_t now) {
  FolderStatus f;
  f.unit = unit;
  f.folder = folder;
  read_snapshot(folder.c_str(), f.snap);
  init_report(f.report);
  classify_snapshot(f.snap, f.report);
  const std::string ext = ext_of(f.snap);
  std::int64_t mtime = 0;
  if (file_mtime((folder + "work_unit" + ext).c_str(), &mtime)) {
    f.work_unit_dated = true;
    f.work_unit_age = age_of(mtime, now, &f.work_unit_ahead);
  }
  f.user_info_file = path_exists((folder + "user_info" + ext).c_str());
  const ClientFilesLook look = look_at_client_files(folder.c_str());
  f.files_dated = look.dated;
  if (f.files_dated) f.files_unchanged = age_of(look.newest, now, &f.files_ahead);
  return f;
}

// The files set aside below "damaged", as "<folder>\<name>", sorted; the
// error that stopped the walk, if one did (a missing folder is none).
std::vector<std::string> damaged_files(const std::string& path, std::error_code* error = nullptr) {
  std::vector<std::string> names;
  std::error_code ec;
  const std::filesystem::path damaged = fs_path(native_path(path.c_str())) / "damaged";
  for (std::filesystem::recursive_directory_iterator it(damaged, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec)) continue;
    std::string name = fs_name(it->path().lexically_relative(damaged).make_preferred());
    slashes_to_backslashes(name.data());
    names.push_back(name);
  }
  if (error != nullptr) *error = ec == std::errc::no_such_file_or_directory ? std::error_code() : ec;
  std::sort(names.begin(), names.end());
  return names;
}

// The client's own files, in either of its two sets.
constexpr const char* kClientStems[] = {"version", "work_unit", "wtemp", "result", "outfile", "state", "user_info"};

std::string lower_ascii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool client_file_name(const std::string& lower) {
  for (const char* stem : kClientStems)
    if (lower == std::string(stem) + ".txt" || lower == std::string(stem) + ".vwu") return true;
  return false;
}

// Any trace of a client or of a controller: the client's program or files, a
// unit folder, a file of the controller's own (vorcnt.*), its damaged folder.
bool shows_a_client(const FolderListing& listing) {
  for (const FolderEntry& e : listing.entries) {
    const std::string name = lower_ascii(e.name);
    if (name == "vorelith.exe" || name == "unit0" || name == "damaged" || name.starts_with("vorcnt.") ||
        client_file_name(name))
      return true;
  }
  return false;
}

// The first file of `folder` the report reads that it may not open, as
// "<label><name> cannot be opened (<reason>)"; empty when there is none. A
// file gone since the listing (a move under way) is no fault.
std::string unopenable(const std::string& folder, const std::string& label, const FolderListing& listing) {
  for (const FolderEntry& e : listing.entries) {
    const std::string name = lower_ascii(e.name);
    if (!client_file_name(name) && name != kMoveRecordName && name != kWorkWaitName && name != kStatusFileName)
      continue;
    const Status readable = check_readable(path_in(folder, e.name).c_str());
    if (readable.error() == EACCES || readable.error() == EPERM)
      return format_text(N_("%s cannot be opened (%s)"), (label + e.name).c_str(), readable.reason().c_str());
  }
  return std::string();
}

MoveStatus move_status(const std::string& path) {
  MoveStatus move;
  MoveRecord record;
  switch (record_at_start(read_move_record(path.c_str(), &record, &move.problem))) {
    case RecordAtStart::nothing:
      break;
    case RecordAtStart::emptied:
      move.state = MoveStatus::State::cut_short;
      break;
    case RecordAtStart::stops:
      move.state = MoveStatus::State::unreadable;
      break;
    case RecordAtStart::put_right:
      move.state = controller_at_work(path.c_str()) ? MoveStatus::State::under_way : MoveStatus::State::interrupted;
      move.push = record.direction == MoveDirection::push;
      move.unit = record.unit;
      move.files = static_cast<int>(record.files.size());
      break;
  }
  return move;
}

// One read of every folder, without looking at moves.
BufferStatus read_once(const std::string& path, std::int64_t now) {
  BufferStatus status;
  status.path = path;
  // The controller hands the readers "%s\" of its path; a doubled separator
  // names the same folder.
  status.client = read_folder(-1, path + "\\", now);
  const int units = count_unit_folders(path.c_str());
  for (int n = 0; n < units; ++n) status.units.push_back(read_folder(n, unit_folder(path.c_str(), n) + "\\", now));
  status.damaged = damaged_files(path);
  status.move = move_status(path);
  WorkWaits waits;
  if (read_work_waits(path.c_str(), waits, &status.work_wait_problem) != WorkWaitRead::unreadable)
    status.work_wait_problem.clear();
  for (int n = 0; n < units; ++n)
    if (waits[n].since > 0) status.waiting_for_work.push_back(n);
  return status;
}

// Every folder's listing: the client folder first, then unit0 upward.
std::vector<std::vector<FileMark>> list_buffer(const std::string& path) {
  std::vector<std::vector<FileMark>> lists{list_files(native_path(path.c_str()))};
  const int units = count_unit_folders(path.c_str());
  for (int n = 0; n < units; ++n) lists.push_back(list_files(native_path(unit_folder(path.c_str(), n).c_str())));
  return lists;
}

// True when the client folder and `unit` hold one work unit between a move's
// copy and its delete. The evidence is a work unit's own files (every unit
// shares the version and user-info files): an identical work unit or result
// in both, or identical files where one side holds only part of the other's
// set, as a copy stopped or still running between two files leaves it.
bool move_between(const std::string& path, const FolderStatus& unit, const std::string& ext) {
  int shared = 0;
  bool only_client = false;
  bool only_unit = false;
  bool named_twin = false;
  for (const char* stem : {"work_unit", "result", "wtemp", "state"}) {
    const std::string name = stem + ext;
    const bool in_client = path_exists((path + name).c_str());
    const bool in_unit = path_exists((unit.folder + name).c_str());
    only_client |= in_client && !in_unit;
    only_unit |= in_unit && !in_client;
    if (!in_client || !in_unit) continue;
    if (!same_contents(path + name, unit.folder + name)) return false;
    ++shared;
    const std::string_view s(stem);
    named_twin |= s == "work_unit" || s == "result";
  }
  return shared > 0 && (named_twin || only_client != only_unit);
}

// Not the controller's clock: these pauses are vorstat's own and do not
// follow VORCNT_TIME_SCALE.
void default_pause(int attempt) { std::this_thread::sleep_for(std::chrono::milliseconds(50 << attempt)); }

}  // namespace

Sight look_at_client_folder(const std::string& path) {
  Sight sight;
  const auto unreadable = [&](std::string why) {
    sight.kind = Sight::Kind::unreadable;
    sight.why = std::move(why);
    return sight;
  };
  const FolderListing top = list_folder(path);
  if (!top.status.ok()) {
    // Only a name that is not there, or is no folder, is missing: one that
    // cannot be looked at (a folder above it closed to us) may well be there.
    if (!is_directory(path.c_str()) && presence(path) != Presence::unknown) sight.kind = Sight::Kind::missing;
    return sight.kind == Sight::Kind::missing
               ? sight
               : unreadable(format_text(N_("it cannot be listed (%s)"), top.status.reason().c_str()));
  }
  if (!shows_a_client(top)) {
    sight.kind = Sight::Kind::no_client;
    return sight;
  }
  if (std::string why = unopenable(path, "", top); !why.empty()) return unreadable(std::move(why));
  const int units = count_unit_folders(path.c_str());
  for (int n = 0; n < units; ++n) {
    const std::string folder = unit_folder(path.c_str(), n);
    const std::string label = "unit" + std::to_string(n);
    const FolderListing listing = list_folder(folder);
    // One gone since it was counted is no fault of the report's.
    if (!listing.status.ok() && listing.status.error() != ENOENT)
      return unreadable(format_text(N_("%s cannot be listed (%s)"), label.c_str(), listing.status.reason().c_str()));
    if (std::string why = unopenable(folder, label + "\\", listing); !why.empty()) return unreadable(std::move(why));
  }
  std::error_code damaged_error;
  (void)damaged_files(path, &damaged_error);
  if (damaged_error)
    return unreadable(format_text(N_("damaged cannot be listed whole (%s)"), damaged_error.message().c_str()));
  return sight;
}

bool BufferStatus::clock_ahead() const {
  bool ahead = client.files_ahead || client.work_unit_ahead;
  for (const FolderStatus& f : units) ahead = ahead || f.work_unit_ahead;
  return ahead;
}

BufferCounts count_buffer(const BufferStatus& status) {
  BufferCounts c;
  // A folder a move was changing is counted where the move leaves it, once
  // it has settled; counting it now might count it twice.
  c.moving = status.client.in_transition;
  if (!status.client.in_transition) count_folder(status.client, true, &c);
  for (const FolderStatus& f : status.units) {
    c.moving = c.moving || f.in_transition;
    if (!f.in_transition) count_folder(f, false, &c);
  }
  return c;
}

BufferStatus read_buffer_status(const std::string& path, std::int64_t now) {
  return read_buffer_status(path, now, default_pause);
}

BufferStatus read_buffer_status(const std::string& path, std::int64_t now, void (*pause)(int attempt)) {
  // The controller copies a unit's files, pauses a second and then deletes the
  // originals; six reads spaced 50 ms to 800 ms apart (1.55 s) see such a
  // move finish at the controller's normal pace.
  constexpr int kReads = 6;
  BufferStatus status;
  std::vector<bool> moving;
  for (int attempt = 0; attempt < kReads; ++attempt) {
    if (attempt > 0) pause(attempt - 1);
    const auto before = list_buffer(path);
    status = read_once(path, now);
    const std::size_t folders = 1 + status.units.size();
    moving.assign(folders, false);
    // Before the second listing: a delete that lands after this look still
    // shows as a change in the listings.
    const std::string ext = ext_of(status.client.snap);
    for (std::size_t u = 0; u < status.units.size(); ++u)
      if (move_between(path, status.units[u], ext)) moving[0] = moving[u + 1] = true;
    const auto after = list_buffer(path);
    if (before.size() != folders || after.size() != folders) moving.assign(folders, true);
    for (std::size_t i = 0; i < folders && i < before.size() && i < after.size(); ++i)
      if (before[i] != after[i]) moving[i] = true;
    if (std::find(moving.begin(), moving.end(), true) == moving.end()) return status;
  }
  status.client.in_transition = moving[0];
  for (std::size_t u = 0; u < status.units.size(); ++u) status.units[u].in_transition = moving[u + 1];
  return status;
}

}  // namespace vorcnt::vorstat
