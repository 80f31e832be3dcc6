#include "config/settings.h"

#include <cstring>
#include <string>

#include "config/settings_encoding.h"
#include "ground/messages.h"
#include "ground/text.h"
#include "platform/files.h"
#include "platform/language.h"
#include "platform/local_text.h"

namespace vorcnt {

namespace {

constexpr const char kConfigName[] = "vorcnt.cfg";

// One vorcnt.cfg line whose keyword is the row's; `rest` follows the keyword.
void apply_line(SettingsNotes& notes, ControllerContext& ctx, const OptionRow& row, char* rest, bool cut) {
  if (row.bare != nullptr) {
    row.bare(ctx);
    return;
  }
  // The value keywords share their start: blanks, then "=".
  skip_blanks(rest);
  if (take_char(rest) != '=') {
    refuse_row(notes, ctx, row, row.line_missing);
    return;
  }
  row.line(notes, ctx, rest, cut);
}

// How many arguments one option of the table took: 1 or 2. A refused UNITS
// value leaves what is left of it in `held` for the next round.
int apply_option(SettingsNotes& notes, ControllerContext& ctx, const OptionRow& row, const char* next, char* held) {
  if (row.mark != nullptr) row.mark(ctx);
  if (row.arg == nullptr) return 1;
  if (next == nullptr) {
    if (row.quirks & kValueOptional) {
      row.arg(notes, ctx, nullptr, nullptr);
    } else {
      refuse_row(notes, ctx, row, row.arg_missing);
    }
    return 1;
  }
  // A value that cannot be held is refused and consumed with its option,
  // so it is reported once and never read as an option of its own.
  if ((row.quirks & kValueLengthFirst) && std::strlen(next) > kMaxArgument) {
    refuse_row(notes, ctx, row, msg::kArgumentTooLong);
    return 2;
  }
  char leftover[kLineBuffer];
  if (row.arg(notes, ctx, next, leftover)) return 2;
  if (row.reset != nullptr) row.reset(ctx);
  if (row.quirks & kLeftoverReread) {
    std::strcpy(held, leftover);
    return 1;
  }
  return (row.quirks & kRefusedNotConsumed) ? 1 : 2;
}

// Half a file would be worse than none: a file that cannot be converted
// whole is refused whole, with how to save it.
bool refused_encoding(SettingsNotes& notes, ControllerContext& ctx, const EncodedSettings& encoded) {
  const std::string local = local_text_name();
  const bool utf16 = encoded.encoding == SettingsEncoding::utf16;
  if (encoded.too_big) {
    refuse(notes, ctx, utf16 ? msg::kSettingsUtf16TooBig : msg::kSettingsUtf8TooBig, tr(encoded.form), local.c_str());
  } else if (encoded.not_utf8) {
    refuse(notes, ctx, msg::kSettingsUtf8Invalid, encoded.bad_line, local.c_str());
  } else if (encoded.bad_line > 0) {
    refuse(notes, ctx, utf16 ? msg::kSettingsUtf16Unconvertible : msg::kSettingsUtf8Unconvertible, tr(encoded.form),
           encoded.bad_line, local.c_str(), local.c_str());
  }
  return encoded.too_big || encoded.bad_line > 0;
}

}  // namespace

void read_config_file(ControllerContext& ctx, SettingsNotes& notes) {
  ctx.vorcnt_state = Vorcon_CalcWait;
  ctx.mode = Mode_calc;
  ctx.fill = 0;
  ctx.units = 2;
  ctx.autofill = 0;
  ctx.prog = 0;
  ctx.time = 120;
  ctx.execfinish[0] = '\0';

  TextReader file;
  const EncodedSettings encoded = read_encoded_settings(kConfigName);
  if (encoded.encoding != SettingsEncoding::local) {
    if (refused_encoding(notes, ctx, encoded)) return;
    file.open_memory(encoded.text.data(), encoded.text.size());
  } else if (!file.open(kConfigName)) {
    notes.say(msg::kSettingsFileUnreadable);
    return;
  }
  read_config_lines(ctx, file, notes);
}

void read_config_lines(ControllerContext& ctx, TextReader& file, SettingsNotes& notes) {
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
    const OptionRow* row = holds_nul ? nullptr : option_row(word);
    if (row != nullptr)
      apply_line(notes, ctx, *row, line, piece_is_cut);
    else
      refuse_showing(notes, ctx, line, msg::kSettingUnknown, kVerbatim);
  }
}

void parse_command_line(int argc, char** argv, ControllerContext& ctx, SettingsNotes& notes) {
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
      refuse(notes, ctx, "%s", tr(msg::kArgumentTooLong));
      ++i;
      continue;
    }
    char work[kLineBuffer];
    char option[kLineBuffer];
    copy_upper(arg, work, sizeof work);
    take_letters(work, option, sizeof option);
    const OptionRow* row = option_row(option);
    if (row == nullptr || (row->quirks & kFileOnly)) {
      refuse_showing(notes, ctx, arg, msg::kSettingUnknown, kVerbatim);
      ++i;
      continue;
    }
    const int step = apply_option(notes, ctx, *row, next, held);
    if (step == 1 && (row->quirks & kLeftoverReread) && next != nullptr) held_index = i + 1;
    i += step;
  }
}

}  // namespace vorcnt
