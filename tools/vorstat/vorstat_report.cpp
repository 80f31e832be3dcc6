#include "vorstat_report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>

#include "config/settings.h"
#include "encoding.h"
#include "engine/move_record.h"
#include "engine/unit_folders.h"
#include "folder_marks.h"
#include "ground/context.h"
#include "history_report.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/null_os.h"
#include "platform/path_text.h"

namespace vorcnt::vorstat {

namespace {

#ifndef VORCNT_VERSION
#define VORCNT_VERSION "unknown"
#endif

constexpr char kUsage[] =
    "Usage: vorstat [--json] [--prometheus FILE] [--version] [--help] [PATH]\n"
    "Reports what the client folder PATH and its unit folders (unit0 to unit15)\n"
    "hold, as the controller classifies them. Nothing in them is changed.\n"
    "PATH defaults to the EXEC folder of vorcnt.cfg in the current folder, else\n"
    "the current folder.\n"
    "  --json             print the report as JSON (schema 1)\n"
    "  --prometheus FILE  write gauges for a textfile collector to FILE, through\n"
    "                     a temporary file and a rename; print nothing\n"
    "  --history [FILE] [-n N]  the unit journal instead (--history --help)\n"
    "  --version          print the version and exit\n"
    "  --help             print this help and exit\n"
    "See vorstat(1).\n";

// The longest name read below a client folder: "unit15\user_info.vwu".
constexpr std::size_t kLongestInnerName = 20;

void appendf(std::string& out, const char* format, ...) VORCNT_PRINTF(2, 3);
void appendf(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (n > 0) {
    const std::size_t old_size = out.size();
    out.resize(old_size + static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data() + old_size, static_cast<std::size_t>(n) + 1, format, again);
    out.resize(old_size + static_cast<std::size_t>(n));
  }
  va_end(again);
}

const char* ext_of(const ClientSnapshot& snap) { return kExtensions[snap.ext_index == 1 ? 1 : 0]; }

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
    f.work_unit_age = now - mtime;
  }
  f.user_info_file = path_exists((folder + "user_info" + ext).c_str());
  const ClientFilesLook look = look_at_client_files(folder.c_str());
  f.files_dated = look.dated;
  f.files_unchanged = now - look.newest;
  return f;
}

// Control bytes shown as escapes, so that a path read from vorcnt.cfg with
// its line end still in it is visible as such.
std::string printable(std::string_view text) {
  std::string out;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else if (c < 0x20 || c == 0x7F)
      appendf(out, "\\x%02X", c);
    else
      out += ch;
  }
  return out;
}

// Durations as a person reads them: 45s, 12m05s, 3h07m, 2d04h.
std::string duration(double seconds) {
  if (!std::isfinite(seconds)) return "?";
  std::string out;
  if (seconds < 0) {
    out = "-";
    seconds = -seconds;
  }
  if (seconds >= 1e15) {
    appendf(out, "%.3gs", seconds);
    return out;
  }
  const auto s = static_cast<long long>(seconds);
  if (s < 60)
    appendf(out, "%llds", s);
  else if (s < 3600)
    appendf(out, "%lldm%02llds", s / 60, s % 60);
  else if (s < 86400)
    appendf(out, "%lldh%02lldm", s / 3600, s % 3600 / 60);
  else
    appendf(out, "%lldd%02lldh", s / 86400, s % 86400 / 3600);
  return out;
}

std::string label_of(const FolderStatus& f) {
  if (f.unit < 0) return "client";
  return "unit" + std::to_string(f.unit);
}

void table_row(std::string& out, const FolderStatus& f) {
  const std::int32_t state = f.report.data_state;
  char progress[32];
  if (std::isfinite(f.report.progress))
    std::snprintf(progress, sizeof progress, "%.2f%%", f.report.progress);
  else
    std::snprintf(progress, sizeof progress, "?");
  const std::string cpu = f.snap.state_status == 1 ? "-" : duration(f.snap.cpu);
  // A file time ahead of the clock (a clock set back, a copy from another
  // machine) has no age to show.
  const std::string age = !f.work_unit_dated       ? "-"
                          : f.work_unit_age < 0     ? "in the future"
                                                    : duration(static_cast<double>(f.work_unit_age));
  appendf(out, "%-7s %d %-27s %9s %10s %10s  %s\n", label_of(f).c_str(), state, data_state_name(state), progress,
          cpu.c_str(), age.c_str(), f.snap.result_present == 1 ? "yes" : "no");
}

void user_row(std::string& out, const FolderStatus& f) {
  const ClientSnapshot& s = f.snap;
  // The client's texts may hold any byte: a control byte reaching the
  // terminal raw could move the cursor or retitle the window.
  appendf(out, "%-7s id=%s name=%s nwus=%d nresults=%d total_cpu=%s\n", label_of(f).c_str(), printable(s.id).c_str(),
          printable(s.name).c_str(), s.nwus, s.nresults, duration(s.total_cpu).c_str());
}

// --- JSON -----------------------------------------------------------------

enum class Source { Cp932, Native };

// The folder names come from the file system: on POSIX normally UTF-8, so
// they are taken as such when they are valid UTF-8. The client's own texts are
// always code page 932.
std::string json_string(std::string_view text, Source source) {
  const std::string utf8 = source == Source::Native && is_valid_utf8(text) ? std::string(text) : cp932_to_utf8(text);
  std::string out = "\"";
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = next_code_point(utf8, pos);
    switch (cp) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (cp < 0x20 || (cp >= 0x7F && cp <= 0xFFFF)) {
          appendf(out, "\\u%04x", static_cast<unsigned>(cp));
        } else if (cp > 0xFFFF) {
          const char32_t v = cp - 0x10000;
          appendf(out, "\\u%04x\\u%04x", static_cast<unsigned>(0xD800 + (v >> 10)),
                  static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
        } else {
          out += static_cast<char>(cp);
        }
    }
  }
  out += '"';
  return out;
}

// JSON has no NaN or infinity; a state file can still say prog=inf.
std::string json_number(double value) {
  if (!std::isfinite(value)) return "null";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  std::string out = buf;
  if (out.find_first_of(".e") == std::string::npos) out += ".0";
  return out;
}

class JsonObject {
 public:
  void field(const char* name, const std::string& json_value) {
    out_ += first_ ? "{" : ", ";
    first_ = false;
    out_ += '"';
    out_ += name;
    out_ += "\": ";
    out_ += json_value;
  }
  void text(const char* name, const char* value) { field(name, json_string(value, Source::Cp932)); }
  void integer(const char* name, long long value) { field(name, std::to_string(value)); }
  void boolean(const char* name, bool value) { field(name, value ? "true" : "false"); }
  std::string close() { return first_ ? "{}" : out_ + "}"; }

 private:
  std::string out_;
  bool first_ = true;
};

std::string folder_json(const FolderStatus& f) {
  const ClientSnapshot& s = f.snap;
  JsonObject o;
  if (f.unit >= 0) o.integer("unit", f.unit);
  // The folder's own name, without the separator added for the readers.
  o.field("folder", json_string(std::string_view(f.folder).substr(0, f.folder.size() - 1), Source::Native));
  o.field("ext", json_string(ext_of(s), Source::Cp932));
  o.integer("state", f.report.data_state);
  o.field("state_name", json_string(data_state_name(f.report.data_state), Source::Cp932));
  o.field("progress", json_number(f.report.progress));
  o.field("cpu", s.state_status == 1 ? "null" : json_number(s.cpu));
  o.integer("work_unit_status", s.work_unit_status);
  o.field("work_unit_age_s", f.work_unit_dated ? std::to_string(f.work_unit_age) : "null");
  if (f.unit < 0) o.field("files_unchanged_s", f.files_dated ? std::to_string(f.files_unchanged) : "null");
  o.boolean("result", s.result_present == 1);
  o.boolean("outfile", s.outfile_present == 1);
  o.boolean("in_transition", f.in_transition);
  if (f.user_info_file) {
    // The account key is left out on purpose: a status report gets pasted
    // into messages, and the key is not needed to read the buffer's state.
    o.text("id", s.id);
    o.text("email_addr", s.email_addr);
    o.text("name", s.name);
    o.text("url", s.url);
    o.text("country", s.country);
    o.text("postal_code", s.postal_code);
    o.text("show_name", s.show_name);
    o.text("show_email", s.show_email);
    o.text("venue", s.venue);
    o.text("register_time", s.register_time);
    o.text("last_wu_time", s.last_wu_time);
    o.text("last_result_time", s.last_result_time);
    o.integer("nwus", s.nwus);
    o.integer("nresults", s.nresults);
    o.field("total_cpu", json_number(s.total_cpu));
    o.integer("params_index", s.params_index);
  }
  return o.close();
}

// --- finding the folder -----------------------------------------------------

// The EXEC folder of vorcnt.cfg, read exactly as the controller reads it, or
// the current folder when there is none. Empty when the folder was refused:
// the controller would not work in the current folder then either.
std::string configured_path(std::string& errors) {
  ControllerContext ctx;
  SettingsNotes notes;
  read_config_file(ctx, notes);
  if (ctx.mode == Mode_error) {
    const std::string said = notes.text();
    std::size_t start = 0;
    while (start < said.size()) {
      std::size_t end = said.find('\n', start);
      if (end == std::string::npos) end = said.size();
      if (end > start) errors += "vorstat: vorcnt.cfg: " + said.substr(start, end - start) + "\n";
      start = end + 1;
    }
  }
  if (ctx.path_refused) return std::string();
  const std::string path(ctx.path, strnlen(ctx.path, sizeof ctx.path));
  return path.empty() ? "./" : path;
}

bool publish_metrics(const std::string& file, const std::string& text, std::string& errors) {
  std::string error;
  if (replace_file_atomically(file, text, error)) return true;
  errors += "vorstat: " + printable(error) + "\n";
  return false;
}

int usage_error(std::string& errors, const std::string& message) {
  errors += "vorstat: " + message + "\nUsage: vorstat [--json] [--prometheus FILE] [--version] [--help] [PATH]  (--help tells more)\n";
  return 2;
}

}  // namespace

namespace {

// One read of every folder, without looking at moves.
BufferStatus read_once(const std::string& path, std::int64_t now) {
  BufferStatus status;
  status.path = path;
  // The controller hands the readers "%s\" of its path; a doubled separator
  // names the same folder.
  status.client = read_folder(-1, path + "\\", now);
  const int units = count_unit_folders(path.c_str());
  for (int n = 0; n < units; ++n) status.units.push_back(read_folder(n, unit_folder(path.c_str(), n) + "\\", now));
  std::error_code ec;
  const std::filesystem::path damaged = fs_path(native_path(path.c_str())) / "damaged";
  for (std::filesystem::recursive_directory_iterator it(damaged, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec)) continue;
    std::string name = fs_name(it->path().lexically_relative(damaged).make_preferred());
    slashes_to_backslashes(name.data());
    status.damaged.push_back(name);
  }
  std::sort(status.damaged.begin(), status.damaged.end());
  MoveRecord record;
  switch (read_move_record(path.c_str(), &record, &status.move.problem)) {
    case RecordRead::none:
      break;
    case RecordRead::cut_short:
    case RecordRead::unreadable:
      status.move.state = MoveStatus::State::unreadable;
      break;
    case RecordRead::read:
      status.move.state =
          controller_at_work(path.c_str()) ? MoveStatus::State::under_way : MoveStatus::State::interrupted;
      status.move.push = record.direction == MoveDirection::push;
      status.move.unit = record.unit;
      status.move.files = static_cast<int>(record.files.size());
      break;
  }
  return status;
}

// Every folder's listing: the client folder first, then unit0 upward.
std::vector<std::vector<FileMark>> list_buffer(const std::string& path) {
  std::vector<std::vector<FileMark>> lists{list_files(native_path(path.c_str()))};
  const int units = count_unit_folders(path.c_str());
  for (int n = 0; n < units; ++n) lists.push_back(list_files(native_path(unit_folder(path.c_str(), n).c_str())));
  return lists;
}

// The whole file, or nullopt when it cannot be read.
std::optional<std::string> file_bytes(const std::string& name) {
  std::FILE* f = open_file(name.c_str(), "rb");
  if (f == nullptr) return std::nullopt;
  std::string bytes;
  char block[4096];
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) bytes.append(block, n);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  if (!ok) return std::nullopt;
  return bytes;
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
    const auto mine = file_bytes(path + name);
    const auto theirs = file_bytes(unit.folder + name);
    if (!mine || !theirs || *mine != *theirs) return false;
    ++shared;
    const std::string_view s(stem);
    named_twin |= s == "work_unit" || s == "result";
  }
  return shared > 0 && (named_twin || only_client != only_unit);
}

void default_pause(int attempt) { pause_ms(50 << attempt); }

}  // namespace

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

std::vector<std::string> table_pieces(const BufferStatus& status) {
  // The path is the user's, in the system's own encoding: it goes to the
  // terminal unchanged, while the client's texts around it are CP932.
  std::vector<std::string> pieces{"Client folder: ", printable(status.path), ""};
  std::string& out = pieces.back();
  appendf(out, " (%d unit folder%s)\n", static_cast<int>(status.units.size()), status.units.size() == 1 ? "" : "s");
  appendf(out, "%-7s %-29s %9s %10s %10s  %s\n", "folder", "state", "progress", "cpu", "wu age", "result");
  table_row(out, status.client);
  for (const FolderStatus& f : status.units) table_row(out, f);
  if (status.client.files_dated)
    appendf(out, "client files unchanged for %s\n", duration(static_cast<double>(status.client.files_unchanged)).c_str());

  std::string moving;
  if (status.client.in_transition) moving += " client";
  for (const FolderStatus& f : status.units)
    if (f.in_transition) moving.append(" ").append(label_of(f));
  if (!moving.empty()) out += "in transition:" + moving + " (a move is under way; their rows may be out of date)\n";
  const MoveStatus& move = status.move;
  const char* direction = move.push ? "push" : "pop";
  switch (move.state) {
    case MoveStatus::State::none:
      break;
    case MoveStatus::State::under_way:
      appendf(out, "move under way: %s of unit%d (%d file%s)\n", direction, move.unit, move.files, move.files == 1 ? "" : "s");
      break;
    case MoveStatus::State::interrupted:
      appendf(out, "interrupted move: %s of unit%d (%d file%s); the controller finishes or undoes it when it starts\n",
              direction, move.unit, move.files, move.files == 1 ? "" : "s");
      break;
    case MoveStatus::State::unreadable:
      appendf(out, "move record %s cannot be used (%s): the controller repairs nothing until it is checked and removed\n",
              kMoveRecordName, move.problem.c_str());
      break;
  }

  bool header = false;
  auto user = [&](const FolderStatus& f) {
    if (!f.user_info_file) return;
    if (!header) out += "\nuser info:\n";
    header = true;
    user_row(out, f);
  };
  user(status.client);
  for (const FolderStatus& f : status.units) user(f);
  if (!status.damaged.empty()) {
    appendf(out, "\ndamaged: %d file%s set aside, none of them used:\n", static_cast<int>(status.damaged.size()),
            status.damaged.size() == 1 ? "" : "s");
    for (const std::string& name : status.damaged) appendf(out, "  damaged\\%s\n", printable(name).c_str());
  }
  return pieces;
}

std::string format_table(const BufferStatus& status) {
  std::string out;
  for (const std::string& piece : table_pieces(status)) out += piece;
  return out;
}

std::string format_json(const BufferStatus& status) {
  std::string out = "{\n  \"schema\": 1,\n  \"path\": " + json_string(status.path, Source::Native) + ",\n";
  out += "  \"client\": " + folder_json(status.client) + ",\n";
  out += "  \"units\": [";
  for (std::size_t i = 0; i < status.units.size(); ++i) {
    out += i == 0 ? "\n    " : ",\n    ";
    out += folder_json(status.units[i]);
  }
  out += status.units.empty() ? "],\n" : "\n  ],\n";
  out += "  \"damaged\": [";
  for (std::size_t i = 0; i < status.damaged.size(); ++i)
    out += (i == 0 ? "" : ", ") + json_string(status.damaged[i], Source::Native);
  out += "],\n  \"move\": ";
  const MoveStatus& move = status.move;
  if (move.state == MoveStatus::State::none) {
    out += "null";
  } else if (move.state == MoveStatus::State::unreadable) {
    out += "{\"state\": \"unreadable\", \"problem\": " + json_string(move.problem, Source::Cp932) + "}";
  } else {
    out += std::string("{\"state\": \"") + (move.state == MoveStatus::State::under_way ? "under_way" : "interrupted") +
           "\", \"direction\": \"" + (move.push ? "push" : "pop") + "\", \"unit\": " + std::to_string(move.unit) +
           ", \"files\": " + std::to_string(move.files) + "}";
  }
  out += "\n}\n";
  return out;
}

namespace {

struct Request {
  bool json = false;
  bool help = false;
  bool version = false;
  bool prometheus = false;
  std::string metrics_file;
  bool have_path = false;
  std::string path;
};

// Reads the arguments into `req`; 0 when they are usable, else the exit
// status of a usage error (said in `errors`).
int parse_request(int argc, const char* const* argv, std::string& errors, Request& req) {
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_ended && arg == "--") {
      options_ended = true;
    } else if (!options_ended && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--json")
        req.json = true;
      else if (arg == "--help" || arg == "-h")
        req.help = true;
      else if (arg == "--version")
        req.version = true;
      else if (arg == "--prometheus") {
        if (i + 1 >= argc || argv[i + 1][0] == '\0') return usage_error(errors, "--prometheus needs a FILE");
        req.prometheus = true;
        req.metrics_file = argv[++i];
      } else
        return usage_error(errors, "unknown option '" + printable(arg) + "'");
    } else if (req.have_path) {
      return usage_error(errors, "give one folder only ('" + printable(req.path) + "' and '" + printable(arg) + "')");
    } else if (arg.empty()) {
      return usage_error(errors, "the folder name is empty");
    } else {
      req.have_path = true;
      req.path = arg;
    }
  }
  return 0;
}

}  // namespace

int run_vorstat(int argc, const char* const* argv, Console& out, std::string& errors, std::int64_t now) {
  if (wants_history(argc, argv)) {
    NullConsole unused;  // only the clock's zone is wanted; it never pauses here
    return run_history(argc, argv, out, errors, make_real_clock(unused)->local_time(now));
  }
  Request req;
  if (const int status = parse_request(argc, argv, errors, req)) return status;
  std::string& path = req.path;
  if (req.help) {
    out.write(kUsage);
    return 0;
  }
  if (req.version) {
    out.write("vorstat " VORCNT_VERSION "\n");
    return 0;
  }

  if (req.have_path) {
    // Names are formed by appending to the folder, as the controller does.
    if (!ends_in_separator(path)) path += '/';
  } else {
    path = configured_path(errors);
    if (path.empty()) return 1;  // the reason is in `errors` already
  }
  if (path.size() + kLongestInnerName > kMaxFileName) {
    errors += "vorstat: the folder name is too long (" + std::to_string(path.size()) +
              " bytes): the client's file names in it would pass 255 bytes\n";
    return 1;
  }
  if (!is_directory(path.c_str())) {
    errors += "vorstat: no client folder at '" + printable(path) + "'\n";
    // A monitoring system learns it from the file too, not only from a log.
    if (req.prometheus) publish_metrics(req.metrics_file, format_prometheus_missing(), errors);
    return 1;
  }

  const BufferStatus status = read_buffer_status(path, now);
  if (req.prometheus) return publish_metrics(req.metrics_file, format_prometheus(status), errors) ? 0 : 1;
  if (req.json) {
    out.write(format_json(status));
  } else {
    const std::vector<std::string> pieces = table_pieces(status);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (i % 2 == 0)
        out.write(pieces[i]);
      else
        out.write_verbatim(pieces[i]);
    }
  }
  return 0;
}

}  // namespace vorcnt::vorstat
