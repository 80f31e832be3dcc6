#include "config/settings.h"

#include <cstring>

#include "config/opt_in_settings.h"
#include "ground/text.h"
#include "platform/console.h"
#include "platform/files.h"

namespace vorcnt {

namespace {

constexpr const char kConfigName[] = "vorcnt.cfg";
// Lines and arguments are worked on in buffers of this size; a file read
// gives at most kLineBuffer - 2 bytes per piece.
constexpr int kLineBuffer = 256;
constexpr std::size_t kMaxArgument = kLineBuffer - 1;
constexpr std::size_t kMaxTextField = kTextField - 1;

// Our own refusals of values that cannot be held or used safely.
constexpr const char kPathTooLong[] = "bad arg: path longer than 118 characters\n";
constexpr const char kExecFinishTooLong[] = "bad arg: execfinish longer than 254 characters\n";
constexpr const char kArgumentTooLong[] = "bad arg: argument longer than 255 characters\n";
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
bool path_is_plain(Os& os, const char* value) {
  for (const char* p = value; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == ' ') {
      print(os, "bad arg: path holds a blank\n");
      return false;
    }
    if (c < 0x20 || c == 0x7F) {
      print(os, "bad arg: path holds a control character\n");
      return false;
    }
    if (std::strchr(kInterpreterSpecials, c) != nullptr) {
      print(os, "bad arg: path holds the character %c, which the command interpreter reads specially\n", c);
      return false;
    }
  }
  return true;
}

// Sets `path`, unless the later copy command lines could not hold it: those
// hold the path twice in a 256-byte buffer, and a path that only works for
// some of the commands would strand work units halfway through a move.
void set_path(Os& os, ControllerContext& ctx, const char* value) {
  bool usable = std::strlen(value) <= static_cast<std::size_t>(kMaxUsablePath);
  if (!usable)
    print(os, "%s", kPathTooLong);
  else
    usable = path_is_plain(os, value);
  if (!usable) {
    ctx.mode = Mode_error;
    ctx.path_refused = true;
    return;
  }
  copy_field(ctx.path, value);
  ctx.path_refused = false;
}

// A cut command would run something other than what was asked, so a command
// that does not fit the field is refused whole.
void set_execfinish(Os& os, ControllerContext& ctx, const char* value) {
  if (std::strlen(value) > kMaxTextField) {
    print(os, "%s", kExecFinishTooLong);
    ctx.mode = Mode_error;
    return;
  }
  copy_field(ctx.execfinish, value);
}

bool time_in_range(std::int32_t seconds) { return seconds >= 120 && seconds <= 36000; }

void config_exec(Os& os, ControllerContext& ctx, char* rest) {
  skip_blanks(rest);
  // Keep up to and including the last separator: drops the line end, trailing
  // blanks, and a last name that has no separator after it.
  char* cut = nullptr;
  for (char* p = rest; *p != '\0'; ++p)
    if (*p == '\\' || *p == '/') cut = p;
  if (cut != nullptr) cut[1] = '\0';
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
  print(os, "vorcnt.cfg bad arg: units = %s\n", digits);
  ctx.units = 0;
  ctx.mode = Mode_error;
}

void config_time(ControllerContext& ctx, char* rest) {
  char digits[kLineBuffer];
  take_digits(rest, digits, sizeof digits);
  std::int32_t seconds = to_int32(digits);
  ctx.time = time_in_range(seconds) ? seconds : 120;
}

// The value keywords share their start: blanks, then "=".
void config_value_line(Os& os, ControllerContext& ctx, int keyword, char* rest) {
  skip_blanks(rest);
  if (take_char(rest) != '=') {
    switch (keyword) {
      case kw_EXEC:
        print(os, "bad arg: path = c:\\progra~1\\vorelith\\\n");
        break;
      case kw_UNITS:
        print(os, "vorcnt.cfg bad arg: units = N\n");
        ctx.units = 0;
        break;
      case kw_EXECFINISH:
        print(os, "bad arg: -execfinish N\n");
        break;
      case kw_TIME:
        print(os, "bad arg: -time N\n");
        ctx.time = 120;
        break;
    }
    ctx.mode = Mode_error;
    return;
  }
  switch (keyword) {
    case kw_EXEC:
      config_exec(os, ctx, rest);
      break;
    case kw_UNITS:
      config_units(os, ctx, rest);
      break;
    case kw_EXECFINISH:
      skip_blanks(rest);
      set_execfinish(os, ctx, rest);  // keeps its line end
      break;
    case kw_TIME:
      config_time(ctx, rest);
      break;
  }
}

}  // namespace

void keyword_help(ControllerContext& ctx) { ctx.mode = Mode_help; }
void keyword_version(ControllerContext& ctx) { ctx.mode = Mode_verinfo; }
void keyword_fill(ControllerContext& ctx) {
  ctx.fill = 1;
  ctx.mode = Mode_fill;
  ctx.vorcnt_state = Vorcon_CalcCompletion;
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
  if (!file.open(kConfigName)) {
    print(os, "vorcnt.cfg open error!\n");
    return;
  }
  read_config_lines(os, ctx, file);
}

void read_config_lines(Os& os, ControllerContext& ctx, TextReader& file) {
  // A read takes at most 254 bytes, line end included; the rest of a longer
  // line comes as lines of its own. A folder or command cut there leaves its
  // tail to be judged as a line, which is almost never a setting: it is
  // reported and leaves Mode_error, in which nothing moves.
  char line_buffer[kLineBuffer];
  while (const std::size_t length = file.read_line(line_buffer, kLineBuffer - 1)) {
    // A NUL byte would end the line as every text helper sees it, and what
    // follows it would be dropped without a word. Such a line is refused
    // whole; only a comment, which applies nothing anyway, is let pass.
    const bool holds_nul = std::strlen(line_buffer) != length;
    const bool piece_is_cut = length == kLineBuffer - 2 && line_buffer[length - 1] != '\n';
    char* line = line_buffer;
    skip_blanks(line);
    char first = line[0];
    if (first == '#' || first == ';' || first == '/') continue;
    if (!holds_nul && (first == '\0' || first == '\n')) continue;

    char word[kLineBuffer];
    take_word(line, word, sizeof word);
    copy_upper(word, word, sizeof word);
    const int keyword = holds_nul ? kw_none : find_keyword(kSettingsKeywords, word);
    switch (keyword) {
      case kw_HELP:
        keyword_help(ctx);
        break;
      case kw_VERSION:
        keyword_version(ctx);
        break;
      case kw_FILL:
        keyword_fill(ctx);
        break;
      case kw_AUTOFILL:
        keyword_autofill(ctx);
        break;
      case kw_PROG:
        keyword_prog(ctx);
        break;
      case kw_EXEC:
      case kw_UNITS:
      case kw_EXECFINISH:
      case kw_TIME:
        config_value_line(os, ctx, keyword, line);
        break;
      default:
        if (!holds_nul && read_opt_in_line(os, ctx, word, line, piece_is_cut)) break;
        print_verbatim(os, "bad arg: ", line, "\n");
        ctx.mode = Mode_error;
        break;
    }
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
    const bool has_next = i + 1 < argc;
    const char* next = has_next ? arg_at(i + 1) : nullptr;
    int step = 1;  // 2 when the option consumed the next argument

    if (std::strlen(arg) > kMaxArgument) {
      // Cannot be held in the work buffer; not echoed, it may be huge.
      print(os, "%s", kArgumentTooLong);
      ctx.mode = Mode_error;
      i += step;
      continue;
    }
    char work[kLineBuffer];
    char option[kLineBuffer];
    copy_upper(arg, work, sizeof work);
    take_letters(work, option, sizeof option);
    int keyword = find_keyword(kSettingsKeywords, option);

    // A value that cannot be held is refused and consumed with its option,
    // so it is reported once and never read as an option of its own.
    const bool next_too_long = has_next && std::strlen(next) > kMaxArgument;

    switch (keyword) {
      case kw_HELP:
        keyword_help(ctx);
        break;
      case kw_VERSION:
        keyword_version(ctx);
        break;
      case kw_AUTOFILL:
        keyword_autofill(ctx);
        break;
      case kw_PROG:
        keyword_prog(ctx);
        break;

      case kw_EXEC:
        if (!has_next) {
          print(os, "bad arg: -path N\n");
          ctx.mode = Mode_error;
          break;
        }
        set_path(os, ctx, next);  // unchanged: no case change, no trimming
        step = 2;
        break;

      case kw_EXECFINISH:
        if (!has_next) {
          print(os, "bad arg: -execfinish N\n");
          ctx.mode = Mode_error;
          break;
        }
        set_execfinish(os, ctx, next);
        step = 2;
        break;

      case kw_UNITS: {
        if (!has_next) {
          print(os, "bad arg: -units N\n");
          ctx.units = 0;
          ctx.mode = Mode_error;
          break;
        }
        if (next_too_long) {
          print(os, "%s", kArgumentTooLong);
          ctx.units = 0;
          ctx.mode = Mode_error;
          step = 2;
          break;
        }
        char value[kLineBuffer];
        char digits[kLineBuffer];
        std::strcpy(value, next);  // fits: checked above
        take_digits(value, digits, sizeof digits);
        std::int32_t units = to_int32(digits);
        if (units >= 1 && units <= kMaxUnits) {
          ctx.units = units;
          step = 2;
          break;
        }
        print_verbatim(os, "bad arg: -units ", value, "\n");
        ctx.units = 0;
        ctx.mode = Mode_error;
        std::strcpy(held, value);
        held_index = i + 1;
        break;
      }

      case kw_FILL: {
        ctx.mode = Mode_fill;
        ctx.vorcnt_state = Vorcon_CalcCompletion;
        if (!has_next) {
          ctx.fill = 1;
          break;
        }
        if (next_too_long) {
          print(os, "%s", kArgumentTooLong);
          ctx.mode = Mode_error;
          step = 2;
          break;
        }
        char value[kLineBuffer];
        copy_upper(next, value, sizeof value);
        print_verbatim(os, "fill:", value, "\n");
        if (std::strcmp(value, "ON") == 0) {
          ctx.fill = 1;
        } else if (std::strcmp(value, "OFF") == 0) {
          ctx.fill = 0;
        } else if (std::strcmp(value, "AUTO") == 0) {
          ctx.fill = 2;
        } else {
          print_verbatim(os, "bad arg: -fill ", next, "\n");
          ctx.mode = Mode_error;
          break;  // not consumed: examined next as an option
        }
        step = 2;
        break;
      }

      case kw_TIME: {
        if (!has_next) {
          print(os, "bad arg: -time N\n");
          ctx.time = 120;
          ctx.mode = Mode_error;
          break;
        }
        step = 2;
        if (next_too_long) {
          print(os, "%s", kArgumentTooLong);
          ctx.time = 120;
          ctx.mode = Mode_error;
          break;
        }
        char value[kLineBuffer];
        char digits[kLineBuffer];
        std::strcpy(value, next);
        take_digits(value, digits, sizeof digits);
        std::int32_t seconds = to_int32(digits);
        ctx.time = time_in_range(seconds) ? seconds : 120;
        break;
      }

      default:
        if (const int taken = parse_opt_in_option(os, ctx, option, next)) {
          step = taken;
          break;
        }
        print_verbatim(os, "bad arg: ", arg, "\n");
        ctx.mode = Mode_error;
        break;
    }
    i += step;
  }
}

}  // namespace vorcnt
