// The opt-in settings CONNECT, HISTORY, EXECEMPTY and STALL. They are looked up only
// when a word is none of the nine settings keywords, so the settings table
// and everything read through it stay as they are.
#pragma once

#include "ground/context.h"
#include "platform/os.h"

namespace vorcnt {

// A vorcnt.cfg line whose upper-cased first word is `word`; `rest` is what
// followed it, and `cut` says that the line goes on past this piece: a value
// cut there is refused, since a cut file name or command is another one.
// False when the word names none of them.
bool read_opt_in_line(Os& os, ControllerContext& ctx, const char* word, char* rest, bool cut);

// A command-line option `option` (its upper-cased letters) with the next
// argument `next` (null when there is none). Returns how many arguments it
// took (1 or 2), or 0 when the option names none of them. HISTORY is a file
// setting only.
int parse_opt_in_option(Os& os, ControllerContext& ctx, const char* option, const char* next);

// Dump lines for the opt-in settings that are set; nothing when none is.
void dump_opt_in(Os& os, const ControllerContext& ctx);

}  // namespace vorcnt
