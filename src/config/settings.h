// vorcnt.cfg and the command line, read through the one table of option
// rows. Neither prints: what they have to say is kept in SettingsNotes, for
// the caller to print when it may. A rejected setting leaves Mode_error in
// the context; neither stops the run.
#pragma once

#include "config/option_rows.h"
#include "config/settings_notes.h"
#include "ground/context.h"

namespace vorcnt {

// Both refuse, with one line and Mode_error and the field left as it was,
// a path over kMaxUsablePath bytes and a finish command over 254 bytes.

// Sets the defaults, then reads "vorcnt.cfg" from the current folder.
void read_config_file(ControllerContext& ctx, SettingsNotes& notes);
class TextReader;
// Applies the setting lines of an opened file (read_config_file's second
// half, also fed from memory by the fuzz target).
void read_config_lines(ControllerContext& ctx, TextReader& file, SettingsNotes& notes);
// Applies argv[1..argc-1]; argv[0] is skipped and argv is not modified. An
// argument over 255 bytes is refused and skipped (with its option when it is
// that option's value).
void parse_command_line(int argc, char** argv, ControllerContext& ctx, SettingsNotes& notes);

}  // namespace vorcnt
