// vorcnt.cfg and the command line. Both print their own messages and leave
// Mode_error in the context for a rejected setting; neither stops the run.
#pragma once

#include "ground/context.h"
#include "platform/console.h"
#include "platform/os.h"

namespace vorcnt {

// Longest path whose copy command lines still fit the 256-byte buffer.
constexpr int kMaxUsablePath = 118;

// Both refuse, with one message and Mode_error and the field left as it was,
// a path over kMaxUsablePath bytes and a finish command over 254 bytes.

// Sets the defaults, then reads "vorcnt.cfg" from the current folder. EXEC
// and EXECFINISH lines are judged whole even when longer than one read.
void read_config_file(Os& os, ControllerContext& ctx);
class TextReader;
// Applies the setting lines of an opened file (read_config_file's second
// half, also fed from memory by the fuzz target).
void read_config_lines(Os& os, ControllerContext& ctx, TextReader& file);
// Applies argv[1..argc-1]; argv[0] is skipped and argv is not modified. An
// argument over 255 bytes is refused and skipped (with its option when it is
// that option's value).
void parse_command_line(Os& os, int argc, char** argv, ControllerContext& ctx);

// One refusal: its line printed, then Mode_error, in which nothing moves.
void refuse(Os& os, ControllerContext& ctx, const char* format, ...) VORCNT_PRINTF(3, 4);
// The same with a value shown as given where kVerbatim stands (see
// print_showing).
void refuse_showing(Os& os, ControllerContext& ctx, std::string_view text, const char* format, ...)
    VORCNT_PRINTF(4, 5);

// The actions shared by both readers.
void keyword_help(ControllerContext& ctx);
void keyword_version(ControllerContext& ctx);
void keyword_fill(ControllerContext& ctx);
void keyword_autofill(ControllerContext& ctx);
void keyword_prog(ControllerContext& ctx);

}  // namespace vorcnt
