// The settings, one row each: what vorcnt.cfg and the command line do with
// each of them. A new setting is a row of this table, a field of
// ControllerContext, and its help and dump texts.
#pragma once

#include <cstddef>

#include "config/settings_notes.h"
#include "ground/context.h"
#include "platform/os.h"

namespace vorcnt {

// Longest path whose copy command lines still fit the 256-byte buffer.
constexpr int kMaxUsablePath = 118;
// Lines and arguments are worked on in buffers of this size; a file read
// gives at most kLineBuffer - 2 bytes per piece.
constexpr int kLineBuffer = 256;
constexpr std::size_t kMaxArgument = kLineBuffer - 1;

// Ways of a row that scripts and settings files may rely on.
enum OptionQuirk : unsigned {
  kValueOptional = 1,       // on the command line the option alone is enough (FILL alone means ON)
  kValueLengthFirst = 2,    // an over-long value is refused before it is read
  kLeftoverReread = 4,      // what is left of a refused value is examined next as an option
  kRefusedNotConsumed = 8,  // a refused value is examined next as an option
  kFileOnly = 16,           // vorcnt.cfg only: the command line does not know it
  kTypoTolerated = 32,      // a bad or missing value is said and leaves the setting off,
                            // never refused: a typo must not stop the buffer
};

// One setting as both readers know it. Functions left null are not part of
// the setting.
struct OptionRow {
  const char* name = "";  // the keyword, upper case
  // Command line: applied as soon as the option is seen.
  void (*mark)(ControllerContext&) = nullptr;
  // vorcnt.cfg: the keyword alone does this, whatever follows it.
  void (*bare)(ControllerContext&) = nullptr;
  // Command line: the value. False when it refused the value itself (said,
  // Mode_error left); `leftover` then holds what is left of it.
  bool (*arg)(SettingsNotes&, ControllerContext&, const char* value, char* leftover) = nullptr;
  // vorcnt.cfg: what follows "="; `cut` says that the line goes on past this
  // piece.
  void (*line)(SettingsNotes&, ControllerContext&, char* rest, bool cut) = nullptr;
  const char* arg_missing = nullptr;   // said when the option is last on the command line
  const char* line_missing = nullptr;  // said when the file's line has no "="
  const char* form = nullptr;          // how the line is written: the "%s" of line_missing
  void (*reset)(ControllerContext&) = nullptr;  // also done when the value is missing or refused
  // The start-up dump's line, for the settings that keep it here.
  void (*dump)(Os&, const ControllerContext&) = nullptr;
  const char* help = nullptr;  // its line in -help; none for an option the help leaves out
  unsigned quirks = 0;
};

// The row of the upper-case keyword `word`, or null when it names none.
const OptionRow* option_row(const char* word);

// A value the row cannot take (missing, or too long to hold): `text` said,
// Mode_error left unless the row tolerates typos, and the row's reset done.
void refuse_row(SettingsNotes& notes, ControllerContext& ctx, const OptionRow& row, const char* text);

// One refusal: its line said, then Mode_error, in which nothing moves.
void refuse(SettingsNotes& notes, ControllerContext& ctx, const char* format, ...) VORCNT_PRINTF(3, 4);
// The same with a value shown as given where kVerbatim stands (see
// print_showing).
void refuse_showing(SettingsNotes& notes, ControllerContext& ctx, std::string_view text, const char* format, ...)
    VORCNT_PRINTF(4, 5);

// The options' lines of -help, in table order.
void print_option_help(Os& os);

// The dump lines of the settings whose rows hold them (the opt-in ones, each
// only when set), in table order.
void dump_settings(Os& os, const ControllerContext& ctx);

}  // namespace vorcnt
