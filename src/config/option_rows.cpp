#include "config/option_rows.h"

#include <cstdarg>
#include <cstring>
#include <string>
#include <string_view>

#include "ground/connect_hours.h"
#include "ground/messages.h"
#include "ground/text.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/language.h"
#include "platform/path_text.h"

namespace vorcnt {

namespace {

constexpr std::size_t kMaxTextField = kTextField - 1;
constexpr std::int32_t kMaxStallMinutes = 100000;

// The refusals of over-long values name these limits.
static_assert(kMaxUsablePath == 118 && kTextField - 1 == 254 && kMaxArgument == 255,
              "the refusal messages name these limits");

void copy_field(char (&field)[kTextField], std::string_view value) {
  const std::size_t n = value.size() > kMaxTextField ? kMaxTextField : value.size();  // refused before
  std::memcpy(field, value.data(), n);
  field[n] = '\0';
}

// A value without its line end and the blanks around it. Commas are kept:
// they may belong to a file name or a command.
std::string_view trimmed(const char* value) {
  std::string_view v(value);
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == '\n' || v.back() == '\r' || v.back() == ' ' || v.back() == '\t'))
    v.remove_suffix(1);
  return v;
}

// --- the client folder ------------------------------------------------------

// True when the command interpreter reads `value` as one plain folder name;
// otherwise says why in one line. The command texts carry the path unquoted:
// a blank splits it, and a special character runs something else.
// The second byte of a double-byte character is part of its letter, never a
// character of its own.
bool path_is_plain(SettingsNotes& notes, const char* setting, const char* value) {
  const std::string_view text(value);
  for (std::size_t i = 0, size; i < text.size(); i += size) {
    size = path_char_size(text, i);
    if (size != 1) continue;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == ' ') {
      notes.say(msg::kPathHasBlank);
      notes.say_showing(value, msg::kPathBlankFix, setting, kVerbatim, tr(blank_in_path_fix()));
      return false;
    }
    if (c < 0x20 || c == 0x7F) {
      notes.say(msg::kPathHasControlCharacter);
      return false;
    }
    if (std::strchr(kInterpreterSpecials, c) != nullptr) {
      notes.say(msg::kPathHasShellCharacter, c);
      return false;
    }
  }
  return true;
}

void refuse_path(ControllerContext& ctx) {
  ctx.mode = Mode_error;
  ++ctx.settings_refused;
  ctx.path_refused = true;
}

// Sets `path`, unless the later copy command lines could not hold it: those
// hold the path twice in a 256-byte buffer, and a path that only works for
// some of the commands would strand work units halfway through a move.
void set_path(SettingsNotes& notes, ControllerContext& ctx, const char* setting, const char* value) {
  bool usable = std::strlen(value) <= static_cast<std::size_t>(kMaxUsablePath);
  if (!usable)
    notes.say("%s", tr(msg::kPathTooLong));
  else
    usable = path_is_plain(notes, setting, value);
  if (!usable) {
    refuse_path(ctx);
    return;
  }
  copy_field(ctx.path, value);
  to_native_separators(ctx.path);
  ctx.path_refused = false;
}

void line_exec(SettingsNotes& notes, ControllerContext& ctx, char* rest, bool) {
  skip_blanks(rest);
  // Keep up to and including the last separator: drops the line end, trailing
  // blanks, and a last name that has no separator after it.
  const std::size_t cut = last_separator(rest);
  if (cut == std::string_view::npos) {
    // No folder at all ("EXEC = vorelith", or an empty value): say so, rather
    // than refuse the line end that would be left, which nobody typed.
    notes.say(msg::kExecNamesNoFolder);
    refuse_path(ctx);
    return;
  }
  rest[cut + 1] = '\0';
  set_path(notes, ctx, "EXEC", rest);
}

bool arg_exec(SettingsNotes& notes, ControllerContext& ctx, const char* value, char*) {
  set_path(notes, ctx, "-exec", value);  // unchanged: no case change, no trimming
  return true;
}

// --- the finish and empty-buffer commands, the journal ----------------------

// A cut command would run something other than what was asked, so a command
// that does not fit the field is refused whole.
void set_execfinish(SettingsNotes& notes, ControllerContext& ctx, const char* value) {
  if (std::strlen(value) > kMaxTextField) {
    refuse(notes, ctx, "%s", tr(msg::kExecFinishTooLong));
    return;
  }
  copy_field(ctx.execfinish, value);
}

void line_execfinish(SettingsNotes& notes, ControllerContext& ctx, char* rest, bool) {
  skip_blanks(rest);
  set_execfinish(notes, ctx, rest);  // keeps its line end
}

bool arg_execfinish(SettingsNotes& notes, ControllerContext& ctx, const char* value, char*) {
  set_execfinish(notes, ctx, value);
  return true;
}

// A cut file name or command would be another one: refused whole, as is
// one that goes on past the piece read.
void set_text(SettingsNotes& notes, ControllerContext& ctx, char (&field)[kTextField], const char* name,
              std::string_view value, bool cut) {
  if (cut || value.size() > kMaxTextField) {
    refuse(notes, ctx, msg::kOptInValueTooLong, name);
    return;
  }
  copy_field(field, value);
}

void line_history(SettingsNotes& notes, ControllerContext& ctx, char* rest, bool cut) {
  set_text(notes, ctx, ctx.history, msg::kNameHistory, trimmed(rest), cut);
}

void line_execempty(SettingsNotes& notes, ControllerContext& ctx, char* rest, bool cut) {
  set_text(notes, ctx, ctx.execempty, msg::kNameExecempty, trimmed(rest), cut);
}

bool arg_execempty(SettingsNotes& notes, ControllerContext& ctx, const char* value, char*) {
  set_text(notes, ctx, ctx.execempty, msg::kNameExecempty, value, false);  // as given
  return true;
}

void line_log(SettingsNotes& notes, ControllerContext& ctx, char* rest, bool cut) {
  set_text(notes, ctx, ctx.log, msg::kNameLog, trimmed(rest), cut);
}

bool arg_log(SettingsNotes& notes, ControllerContext& ctx, const char* value, char*) {
  set_text(notes, ctx, ctx.log, msg::kNameLog, value, false);  // as given
  return true;
}

void dump_log(Os& os, const ControllerContext& ctx) {
  if (ctx.log[0] != '\0') print_showing(os, ctx.log, msg::kDumpLog, kVerbatim);
}

void dump_history(Os& os, const ControllerContext& ctx) {
  if (ctx.history[0] != '\0') print_showing(os, ctx.history, msg::kDumpJournal, kVerbatim);
}

void dump_execempty(Os& os, const ControllerContext& ctx) {
  if (ctx.execempty[0] != '\0') print_showing(os, ctx.execempty, msg::kDumpEmptyHook, kVerbatim);
}

// --- numbers ----------------------------------------------------------------

void line_units(SettingsNotes& notes, ControllerContext& ctx, char* rest, bool) {
  char digits[kLineBuffer];
  take_digits(rest, digits, sizeof digits);
  const std::int32_t units = to_int32(digits);
  if (units >= 1 && units <= kMaxUnits) {
    ctx.units = units;
    return;
  }
  refuse(notes, ctx, msg::kUnitsLineMalformed, digits);
  ctx.units = 0;
}

bool arg_units(SettingsNotes& notes, ControllerContext& ctx, const char* value, char* leftover) {
  char digits[kLineBuffer];
  std::strcpy(leftover, value);  // fits: the value's length was checked
  take_digits(leftover, digits, kLineBuffer);
  const std::int32_t units = to_int32(digits);
  if (units >= 1 && units <= kMaxUnits) {
    ctx.units = units;
    return true;
  }
  refuse_showing(notes, ctx, leftover, msg::kUnitsOptionRefused, kVerbatim);
  return false;
}

void reset_units(ControllerContext& ctx) { ctx.units = 0; }

// Out of range is no refusal: the poll falls back to its default.
void set_time(ControllerContext& ctx, char* text) {
  char digits[kLineBuffer];
  take_digits(text, digits, sizeof digits);
  const std::int32_t seconds = to_int32(digits);
  ctx.time = seconds >= 120 && seconds <= 36000 ? seconds : 120;
}

void line_time(SettingsNotes&, ControllerContext& ctx, char* rest, bool) { set_time(ctx, rest); }

bool arg_time(SettingsNotes&, ControllerContext& ctx, const char* value, char*) {
  char rest[kLineBuffer];
  std::strcpy(rest, value);  // fits: the value's length was checked
  set_time(ctx, rest);
  return true;
}

void reset_time(ControllerContext& ctx) { ctx.time = 120; }

// A number of minutes from 1 to kMaxStallMinutes, or 0.
std::int32_t minutes_value(std::string_view value) {
  std::int32_t minutes = 0;
  bool ok = !value.empty() && value.size() <= 6;
  for (const char c : value) {
    ok = ok && c >= '0' && c <= '9';
    if (ok) minutes = minutes * 10 + (c - '0');
  }
  return ok && minutes >= 1 && minutes <= kMaxStallMinutes ? minutes : 0;
}

// As with the window, a typo must not stop the buffer: the run goes on and
// the client is never restarted.
void set_stall(SettingsNotes& notes, ControllerContext& ctx, std::string_view value) {
  const std::int32_t minutes = minutes_value(value);
  if (minutes == 0) {
    notes.say(msg::kStallValueMalformed, static_cast<int>(value.size()), value.data());
    ctx.stall = 0;
    return;
  }
  ctx.stall = minutes;
}

void line_stall(SettingsNotes& notes, ControllerContext& ctx, char* rest, bool cut) {
  // Longer than any value held; the rest of the line is read as lines of
  // its own, and reported there.
  set_stall(notes, ctx, cut ? std::string_view(tr(msg::kOverlongValueShownAs)) : trimmed(rest));
}

bool arg_stall(SettingsNotes& notes, ControllerContext& ctx, const char* value, char*) {
  set_stall(notes, ctx, trimmed(value));
  return true;
}

void reset_stall(ControllerContext& ctx) { ctx.stall = 0; }

void dump_stall(Os& os, const ControllerContext& ctx) {
  if (ctx.stall > 0) print(os, msg::kDumpStall, ctx.stall);
}

// Like STALL: a typo must not stop the buffer; the run goes on and a
// connection waits for work as it always has.
void set_nowork(SettingsNotes& notes, ControllerContext& ctx, std::string_view value) {
  const std::int32_t minutes = minutes_value(value);
  if (minutes == 0) {
    notes.say(msg::kNoWorkValueMalformed, static_cast<int>(value.size()), value.data());
    ctx.nowork = 0;
    return;
  }
  ctx.nowork = minutes;
}

void line_nowork(SettingsNotes& notes, ControllerContext& ctx, char* rest, bool cut) {
  set_nowork(notes, ctx, cut ? std::string_view(tr(msg::kOverlongValueShownAs)) : trimmed(rest));
}

bool arg_nowork(SettingsNotes& notes, ControllerContext& ctx, const char* value, char*) {
  set_nowork(notes, ctx, trimmed(value));
  return true;
}

void reset_nowork(ControllerContext& ctx) { ctx.nowork = 0; }

void dump_nowork(Os& os, const ControllerContext& ctx) {
  if (ctx.nowork > 0) print(os, msg::kDumpNoWork, ctx.nowork);
}

// --- the connection window --------------------------------------------------

void reset_connect(ControllerContext& ctx) {
  ctx.connect_start = -1;
  ctx.connect_end = -1;
}

// A typo in the window must not stop the buffer: the run goes on and
// connects at any time.
void set_connect(SettingsNotes& notes, ControllerContext& ctx, std::string_view value) {
  ConnectWindow w;
  if (!parse_connect_window(value, &w)) {
    notes.say(msg::kConnectValueMalformed, static_cast<int>(value.size()), value.data());
    reset_connect(ctx);
    return;
  }
  ctx.connect_start = w.start;
  ctx.connect_end = w.end;
}

void line_connect(SettingsNotes& notes, ControllerContext& ctx, char* rest, bool cut) {
  set_connect(notes, ctx, cut ? std::string_view(tr(msg::kOverlongValueShownAs)) : trimmed(rest));
}

bool arg_connect(SettingsNotes& notes, ControllerContext& ctx, const char* value, char*) {
  set_connect(notes, ctx, trimmed(value));
  return true;
}

void dump_connect(Os& os, const ControllerContext& ctx) {
  if (ctx.connect_start >= 0)
    print(os, msg::kDumpConnect, format_hhmm(ctx.connect_start).c_str(), format_hhmm(ctx.connect_end).c_str());
}

// --- keywords without a value -----------------------------------------------

void mark_help(ControllerContext& ctx) { ctx.mode = Mode_help; }
void mark_version(ControllerContext& ctx) { ctx.mode = Mode_verinfo; }
void mark_autofill(ControllerContext& ctx) { ctx.autofill = 1; }
void mark_prog(ControllerContext& ctx) { ctx.prog = 1; }

void mark_fill_mode(ControllerContext& ctx) {
  ctx.mode = Mode_fill;
  ctx.vorcnt_state = Vorcon_CalcCompletion;
}

// In vorcnt.cfg FILL is a bare keyword that turns filling on.
void bare_fill(ControllerContext& ctx) {
  ctx.fill = 1;
  mark_fill_mode(ctx);
}

bool arg_fill(SettingsNotes& notes, ControllerContext& ctx, const char* value, char*) {
  if (value == nullptr) {
    ctx.fill = 1;
    return true;
  }
  char upper[kLineBuffer];
  copy_upper(value, upper, sizeof upper);
  notes.say_showing(upper, msg::kFillOptionEcho, kVerbatim);
  if (std::strcmp(upper, "ON") == 0) {
    ctx.fill = 1;
  } else if (std::strcmp(upper, "OFF") == 0) {
    ctx.fill = 0;
  } else if (std::strcmp(upper, "AUTO") == 0) {
    ctx.fill = 2;
  } else {
    refuse_showing(notes, ctx, value, msg::kFillOptionRefused, kVerbatim);
    return false;
  }
  return true;
}

// In the order of the help. The opt-in rows (CONNECT and after) change
// nothing, print nothing and dump nothing until they are set.
const OptionRow kOptionRows[] = {
    {.name = "VERSION", .mark = mark_version, .bare = mark_version, .help = msg::kHelpVersion},
    {.name = "HELP", .mark = mark_help, .bare = mark_help, .help = msg::kHelpHelp},
    {.name = "EXEC", .arg = arg_exec, .line = line_exec, .arg_missing = msg::kExecOptionWithoutValue,
     .line_missing = msg::kExecLineWithoutValue, .help = msg::kHelpExec},
    {.name = "FILL", .mark = mark_fill_mode, .bare = bare_fill, .arg = arg_fill, .help = msg::kHelpFill,
     .quirks = kValueOptional | kValueLengthFirst | kRefusedNotConsumed},
    {.name = "UNITS", .arg = arg_units, .line = line_units, .arg_missing = msg::kUnitsOptionWithoutValue,
     .line_missing = msg::kUnitsLineWithoutValue, .reset = reset_units, .help = msg::kHelpUnits,
     .quirks = kValueLengthFirst | kLeftoverReread},
    {.name = "PROG", .mark = mark_prog, .bare = mark_prog, .help = msg::kHelpProg},
    {.name = "TIME", .arg = arg_time, .line = line_time, .arg_missing = msg::kTimeWithoutValue,
     .line_missing = msg::kTimeWithoutValue, .reset = reset_time, .help = msg::kHelpTime, .quirks = kValueLengthFirst},
    {.name = "EXECFINISH", .arg = arg_execfinish, .line = line_execfinish, .arg_missing = msg::kExecfinishWithoutValue,
     .line_missing = msg::kExecfinishWithoutValue, .help = msg::kHelpExecfinish},
    // Accepted for old settings files; it has no effect.
    {.name = "AUTOFILL", .mark = mark_autofill, .bare = mark_autofill},
    {.name = "CONNECT", .arg = arg_connect, .line = line_connect,
     .arg_missing = msg::kConnectOptionWithoutValue, .line_missing = msg::kConnectLineMalformed,
     .form = msg::kFormConnect, .reset = reset_connect, .dump = dump_connect, .help = msg::kHelpConnect,
     .quirks = kTypoTolerated},
    {.name = "HISTORY", .line = line_history, .line_missing = msg::kOptInLineMalformed, .form = msg::kFormHistory,
     .dump = dump_history, .quirks = kFileOnly},
    {.name = "EXECEMPTY", .arg = arg_execempty, .line = line_execempty, .arg_missing = msg::kExecemptyOptionWithoutValue,
     .line_missing = msg::kOptInLineMalformed, .form = msg::kFormExecempty, .dump = dump_execempty,
     .help = msg::kHelpExecempty},
    {.name = "STALL", .arg = arg_stall, .line = line_stall, .arg_missing = msg::kStallOptionWithoutValue,
     .line_missing = msg::kStallLineMalformed, .reset = reset_stall, .dump = dump_stall, .help = msg::kHelpStall,
     .quirks = kTypoTolerated},
    {.name = "NOWORK", .arg = arg_nowork, .line = line_nowork, .arg_missing = msg::kNoWorkOptionWithoutValue,
     .line_missing = msg::kNoWorkLineMalformed, .reset = reset_nowork, .dump = dump_nowork,
     .help = msg::kHelpNowork, .quirks = kTypoTolerated},
    {.name = "LOG", .arg = arg_log, .line = line_log, .arg_missing = msg::kLogOptionWithoutValue,
     .line_missing = msg::kOptInLineMalformed, .form = msg::kFormLog, .dump = dump_log, .help = msg::kHelpLog},
};

}  // namespace

const OptionRow* option_row(const char* word) {
  for (const OptionRow& row : kOptionRows)
    if (std::strcmp(row.name, word) == 0) return &row;
  return nullptr;
}

void refuse_row(SettingsNotes& notes, ControllerContext& ctx, const OptionRow& row, const char* text) {
  std::string line(tr(text));
  if (const std::size_t at = line.find("%s"); row.form != nullptr && at != std::string::npos)
    line.replace(at, 2, row.form);
  notes.say("%s", line.c_str());
  if (!(row.quirks & kTypoTolerated)) {
    ctx.mode = Mode_error;
    ++ctx.settings_refused;
  }
  if (row.reset != nullptr) row.reset(ctx);
}

void refuse(SettingsNotes& notes, ControllerContext& ctx, const char* format, ...) {
  va_list args;
  va_start(args, format);
  notes.vsay(format, args);
  va_end(args);
  ctx.mode = Mode_error;
  ++ctx.settings_refused;
}

void refuse_showing(SettingsNotes& notes, ControllerContext& ctx, std::string_view text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  notes.vsay_showing(text, format, args);
  va_end(args);
  ctx.mode = Mode_error;
  ++ctx.settings_refused;
}

void print_option_help(Os& os) {
  for (const OptionRow& row : kOptionRows)
    if (row.help != nullptr) print(os, "%s", tr(row.help));
}

void dump_settings(Os& os, const ControllerContext& ctx) {
  for (const OptionRow& row : kOptionRows)
    if (row.dump != nullptr) row.dump(os, ctx);
}

}  // namespace vorcnt
