#include "config/settings.h"

#include <cstring>
#include <string>

#include "config/opt_in_settings.h"
#include "config/settings_utf16.h"
#include "ground/messages.h"
#include "ground/text.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/local_text.h"
#include "platform/path_text.h"

namespace vorcnt {

namespace {

constexpr const char kConfigName[] = "vorcnt.cfg";
// Lines and arguments are worked on in buffers of this size; a file read
// gives at most kLineBuffer - 2 bytes per piece.
constexpr int kLineBuffer = 256;
constexpr std::size_t kMaxArgument = kLineBuffer - 1;
constexpr std::size_t kMaxTextField = kTextField - 1;

// The refusals of over-long values name these limits.
static_assert(kMaxUsablePath == 118 && kTextField - 1 == 254 && kMaxArgument == 255,
              "the refusal messages name these limits");

void copy_field(char (&field)[kTextField], const char* value) {
  std::size_t n = std::strlen(value);
  if (n > kMaxTextField) n = kMaxTextField;  // callers have refused longer values already
  std::memcpy(field, value, n);
  field[n] = '\0';
}

// True when the command interpreter reads `value` as one plain folder name;
// otherwise says why in one line. The command texts carry the path unquoted:
// a blank splits it, and a special character runs something else.
// The second byte of a double-byte character is part of its letter, never a
// character of its own.
bool path_is_plain(Os& os, const char* value) {
  const std::string_view text(value);
  for (std::size_t i = 0, size; i < text.size(); i += size) {
    size = path_char_size(text, i);
    if (size != 1) continue;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == ' ') {
      print(os, msg::kPathHasBlank);
      return false;
    }
    if (c < 0x20 || c == 0x7F) {
      print(os, msg::kPathHasControlCharacter);
      return false;
    }
    if (std::strchr(kInterpreterSpecials, c) != nullptr) {
      print(os, msg::kPathHasShellCharacter, c);
      return false;
    }
  }
  return true;
}

void refuse_path(ControllerContext& ctx) {
  ctx.mode = Mode_error;
  ctx.path_refused = true;
}

// Sets `path`, unless the later copy command lines could not hold it: those
// hold the path twice in a 256-byte buffer, and a path that only works for
// some of the commands would strand work units halfway through a move.
void set_path(Os& os, ControllerContext& ctx, const char* value) {
  bool usable = std::strlen(value) <= static_cast<std::size_t>(kMaxUsablePath);
  if (!usable)
    print(os, "%s", msg::kPathTooLong);
  else
    usable = path_is_plain(os, value);
  if (!usable) {
    refuse_path(ctx);
    return;
  }
  copy_field(ctx.path, value);
  to_native_separators(ctx.path);
  ctx.path_refused = false;
}

// A cut command would run something other than what was asked, so a command
// that does not fit the field is refused whole.
void set_execfinish(Os& os, ControllerContext& ctx, const char* value) {
  if (std::strlen(value) > kMaxTextField) {
    refuse(os, ctx, "%s", msg::kExecFinishTooLong);
    return;
  }
  copy_field(ctx.execfinish, value);
}

bool time_in_range(std::int32_t seconds) { return seconds >= 120 && seconds <= 36000; }

void mark_fill_mode(ControllerContext& ctx) {
  ctx.mode = Mode_fill;
  ctx.vorcnt_state = Vorcon_CalcCompletion;
}
void reset_units(ControllerContext& ctx) { ctx.units = 0; }
void reset_time(ControllerContext& ctx) { ctx.time = 120; }

void config_exec(Os& os, ControllerContext& ctx, char* rest) {
  skip_blanks(rest);
  // Keep up to and including the last separator: drops the line end, trailing
  // blanks, and a last name that has no separator after it.
  const std::size_t cut = last_separator(rest);
  if (cut == std::string_view::npos) {
    // No folder at all ("EXEC = vorelith", or an empty value): say so, rather
    // than refuse the line end that would be left, which nobody typed.
    print(os, msg::kExecNamesNoFolder);
    refuse_path(ctx);
    return;
  }
  rest[cut + 1] = '\0';
  set_path(os, ctx, rest);
}

void config_units(Os& os, ControllerContext& ctx, char* rest) {
  char digits[kLineBuffer];
  take_digits(rest, digits, sizeof digits);
  std::int32_t units = to_int32(digits);
  if (units >= 1 && units <= kMaxUnits) {
    ctx.units = units;
    return;
  }
  refuse(os, ctx, msg::kUnitsLineMalformed, digits);
  ctx.units = 0;
}

void config_time(Os&, ControllerContext& ctx, char* rest) {
  char digits[kLineBuffer];
  take_digits(rest, digits, sizeof digits);
  std::int32_t seconds = to_int32(digits);
  ctx.time = time_in_range(seconds) ? seconds : 120;
}

}  // namespace

void keyword_help(ControllerContext& ctx) { ctx.mode = Mode_help; }
void keyword_version(ControllerContext& ctx) { ctx.mode = Mode_verinfo; }
void keyword_fill(ControllerContext& ctx) {
  ctx.fill = 1;
  mark_fill_mode(ctx);
}
void keyword_autofill(ControllerContext& ctx) { ctx.autofill = 1; }
void keyword_prog(ControllerContext& ctx) { ctx.prog = 1; }

void read_config_file(Os& os, ControllerContext& ctx) {
  ctx.vorcnt_state = Vorcon_CalcWait;
  ctx.mode = Mode_calc;
  ctx.fill = 0;
  ctx.units = 2;
  ctx.autofill = 0;
  ctx.prog = 0;
  ctx.time = 120;
  ctx.execfinish[0] = '\0';

  TextReader file;
  const Utf16Settings utf16 = read_utf16_settings(kConfigName);
  if (utf16.utf16) {
    // Half a file would be worse than none: refused whole, with how to save it.
    const std::string local = local_text_name();
    if (utf16.too_big) {
      refuse(os, ctx, msg::kSettingsUtf16TooBig, utf16.byte_order, local.c_str());
      return;
    }
    if (utf16.bad_line > 0) {
      refuse(os, ctx, msg::kSettingsUtf16Unconvertible, utf16.byte_order, utf16.bad_line, local.c_str(),
             local.c_str());
      return;
    }
    file.open_memory(utf16.text.data(), utf16.text.size());
  } else if (!file.open(kConfigName)) {
    print(os, msg::kSettingsFileUnreadable);
    return;
  }
  read_config_lines(os, ctx, file);
}

namespace {

void config_execfinish(Os& os, ControllerContext& ctx, char* rest) {
  skip_blanks(rest);
  set_execfinish(os, ctx, rest);  // keeps its line end
}

// Command-line values. Each returns false when it refused the value itself
// (its message printed, Mode_error left); `leftover` then holds what is left
// of the value for a row that examines it again.
bool arg_exec(Os& os, ControllerContext& ctx, const char* value, char*) {
  set_path(os, ctx, value);  // unchanged: no case change, no trimming
  return true;
}

bool arg_execfinish(Os& os, ControllerContext& ctx, const char* value, char*) {
  set_execfinish(os, ctx, value);
  return true;
}

bool arg_units(Os& os, ControllerContext& ctx, const char* value, char* leftover) {
  char digits[kLineBuffer];
  std::strcpy(leftover, value);  // fits: the value's length was checked
  take_digits(leftover, digits, kLineBuffer);
  const std::int32_t units = to_int32(digits);
  if (units >= 1 && units <= kMaxUnits) {
    ctx.units = units;
    return true;
  }
  refuse_showing(os, ctx, leftover, msg::kUnitsOptionRefused, kVerbatim);
  return false;
}

bool arg_fill(Os& os, ControllerContext& ctx, const char* value, char*) {
  if (value == nullptr) {
    ctx.fill = 1;
    return true;
  }
  char upper[kLineBuffer];
  copy_upper(value, upper, sizeof upper);
  print_showing(os, upper, msg::kFillOptionEcho, kVerbatim);
  if (std::strcmp(upper, "ON") == 0) {
    ctx.fill = 1;
  } else if (std::strcmp(upper, "OFF") == 0) {
    ctx.fill = 0;
  } else if (std::strcmp(upper, "AUTO") == 0) {
    ctx.fill = 2;
  } else {
    refuse_showing(os, ctx, value, msg::kFillOptionRefused, kVerbatim);
    return false;
  }
  return true;
}

bool arg_time(Os&, ControllerContext& ctx, const char* value, char*) {
  char rest[kLineBuffer];
  char digits[kLineBuffer];
  std::strcpy(rest, value);  // fits: the value's length was checked
  take_digits(rest, digits, sizeof digits);
  const std::int32_t seconds = to_int32(digits);
  ctx.time = time_in_range(seconds) ? seconds : 120;
  return true;
}

// Inherited ways of the command line that scripts may rely on.
enum OptionQuirk : unsigned {
  kValueOptional = 1,      // FILL alone means ON
  kValueLengthFirst = 2,   // an over-long value is refused before it is read
  kLeftoverReread = 4,     // what is left of a refused value is examined next as an option
  kRefusedNotConsumed = 8, // a refused value is examined next as an option
};

// One setting as both readers know it. A row with no `arg` takes no value.
struct OptionRow {
  int keyword;
  void (*mark)(ControllerContext&);  // applied as soon as the option is seen
  bool (*arg)(Os&, ControllerContext&, const char* value, char* leftover);
  void (*line)(Os&, ControllerContext&, char* rest);  // vorcnt.cfg: what follows "="
  const char* arg_missing;   // the option is last on the command line
  const char* line_missing;  // the file's line has no "="
  void (*reset)(ControllerContext&);  // also done when the value is missing or refused
  unsigned quirks;
};

const OptionRow kOptionRows[] = {
    {kw_HELP, keyword_help, nullptr, nullptr, nullptr, nullptr, nullptr, 0},
    {kw_VERSION, keyword_version, nullptr, nullptr, nullptr, nullptr, nullptr, 0},
    {kw_AUTOFILL, keyword_autofill, nullptr, nullptr, nullptr, nullptr, nullptr, 0},
    {kw_PROG, keyword_prog, nullptr, nullptr, nullptr, nullptr, nullptr, 0},
    {kw_EXEC, nullptr, arg_exec, config_exec, msg::kExecOptionWithoutValue, msg::kExecLineWithoutValue,
     nullptr, 0},
    {kw_EXECFINISH, nullptr, arg_execfinish, config_execfinish, msg::kExecfinishWithoutValue,
     msg::kExecfinishWithoutValue, nullptr, 0},
    {kw_UNITS, nullptr, arg_units, config_units, msg::kUnitsOptionWithoutValue, msg::kUnitsLineWithoutValue,
     reset_units, kValueLengthFirst | kLeftoverReread},
    // In vorcnt.cfg FILL is a bare keyword that turns filling on.
    {kw_FILL, mark_fill_mode, arg_fill, nullptr, nullptr, nullptr, nullptr,
     kValueOptional | kValueLengthFirst | kRefusedNotConsumed},
    {kw_TIME, nullptr, arg_time, config_time, msg::kTimeWithoutValue, msg::kTimeWithoutValue, reset_time,
     kValueLengthFirst},
};

const OptionRow* option_row(int keyword) {
  for (const OptionRow& row : kOptionRows)
    if (row.keyword == keyword) return &row;
  return nullptr;
}

void refuse_row(Os& os, ControllerContext& ctx, const OptionRow& row, const char* text) {
  refuse(os, ctx, "%s", text);
  if (row.reset != nullptr) row.reset(ctx);
}

// One vorcnt.cfg line that starts with a keyword of the table.
void apply_line(Os& os, ControllerContext& ctx, const OptionRow& row, char* rest) {
  if (row.line == nullptr) {
    if (row.keyword == kw_FILL)
      keyword_fill(ctx);
    else
      row.mark(ctx);
    return;
  }
  // The value keywords share their start: blanks, then "=".
  skip_blanks(rest);
  if (take_char(rest) != '=') {
    refuse_row(os, ctx, row, row.line_missing);
    return;
  }
  row.line(os, ctx, rest);
}

// How many arguments one option of the table took: 1 or 2. A refused UNITS
// value leaves what is left of it in `held` for the next round.
int apply_option(Os& os, ControllerContext& ctx, const OptionRow& row, const char* next, char* held) {
  if (row.mark != nullptr) row.mark(ctx);
  if (row.arg == nullptr) return 1;
  if (next == nullptr) {
    if (row.quirks & kValueOptional) {
      row.arg(os, ctx, nullptr, nullptr);
    } else {
      refuse_row(os, ctx, row, row.arg_missing);
    }
    return 1;
  }
  // A value that cannot be held is refused and consumed with its option,
  // so it is reported once and never read as an option of its own.
  if ((row.quirks & kValueLengthFirst) && std::strlen(next) > kMaxArgument) {
    refuse_row(os, ctx, row, msg::kArgumentTooLong);
    return 2;
  }
  char leftover[kLineBuffer];
  if (row.arg(os, ctx, next, leftover)) return 2;
  if (row.reset != nullptr) row.reset(ctx);
  if (row.quirks & kLeftoverReread) {
    std::strcpy(held, leftover);
    return 1;
  }
  return (row.quirks & kRefusedNotConsumed) ? 1 : 2;
}

}  // namespace

void refuse(Os& os, ControllerContext& ctx, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprint(os, format, args);
  va_end(args);
  ctx.mode = Mode_error;
}

void refuse_showing(Os& os, ControllerContext& ctx, std::string_view text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprint_showing(os, text, format, args);
  va_end(args);
  ctx.mode = Mode_error;
}

void read_config_lines(Os& os, ControllerContext& ctx, TextReader& file) {
  // A read takes at most 254 bytes, line end included; the rest of a longer
  // line comes as lines of its own. A folder or command cut there leaves its
  // tail to be judged as a line, which is almost never a setting: it is
  // reported and leaves Mode_error, in which nothing moves.
  char line_buffer[kLineBuffer];
  bool first_line = true;
  while (const std::size_t length = file.read_line(line_buffer, kLineBuffer - 1)) {
    // A NUL byte would end the line as every text helper sees it, and what
    // follows it would be dropped without a word. Such a line is refused
    // whole; only a comment, which applies nothing anyway, is let pass.
    const bool holds_nul = std::strlen(line_buffer) != length;
    const bool piece_is_cut = length == kLineBuffer - 2 && line_buffer[length - 1] != '\n';
    char* line = line_buffer;
    // An editor that saves UTF-8 may put a byte-order mark before the first
    // line; it is no part of the first keyword.
    if (first_line && std::strncmp(line, "\xEF\xBB\xBF", 3) == 0) line += 3;
    first_line = false;
    skip_blanks(line);
    char first = line[0];
    if (first == '#' || first == ';' || first == '/') continue;
    if (!holds_nul && (first == '\0' || first == '\n')) continue;

    char word[kLineBuffer];
    take_word(line, word, sizeof word);
    copy_upper(word, word, sizeof word);
    const OptionRow* row = holds_nul ? nullptr : option_row(find_keyword(kSettingsKeywords, word));
    if (row != nullptr)
      apply_line(os, ctx, *row, line);
    else if (holds_nul || !read_opt_in_line(os, ctx, word, line, piece_is_cut))
      refuse_showing(os, ctx, line, msg::kSettingUnknown, kVerbatim);
  }
}

void parse_command_line(Os& os, int argc, char** argv, ControllerContext& ctx) {
  if (argc < 2) return;

  // What is left of a rejected UNITS value stays in the argument list and is
  // examined next as an option in its own right; it is held here rather than
  // written back into argv.
  char held[kLineBuffer] = {};
  int held_index = -1;
  auto arg_at = [&](int k) -> const char* { return k == held_index ? held : argv[k]; };

  int i = 1;
  while (i < argc) {
    const char* arg = arg_at(i);
    const char* next = i + 1 < argc ? arg_at(i + 1) : nullptr;
    if (std::strlen(arg) > kMaxArgument) {
      // Cannot be held in the work buffer; not echoed, it may be huge.
      refuse(os, ctx, "%s", msg::kArgumentTooLong);
      ++i;
      continue;
    }
    char work[kLineBuffer];
    char option[kLineBuffer];
    copy_upper(arg, work, sizeof work);
    take_letters(work, option, sizeof option);
    int step = 0;
    if (const OptionRow* row = option_row(find_keyword(kSettingsKeywords, option))) {
      step = apply_option(os, ctx, *row, next, held);
      if (step == 1 && (row->quirks & kLeftoverReread) && next != nullptr) held_index = i + 1;
    } else if ((step = parse_opt_in_option(os, ctx, option, next)) == 0) {
      refuse_showing(os, ctx, arg, msg::kSettingUnknown, kVerbatim);
      step = 1;
    }
    i += step;
  }
}

}  // namespace vorcnt
