// vorcnt.cfg and the command line. Both print their own messages and leave
// Mode_error in the context for a rejected setting; neither stops the run.
#pragma once

#include "core/context.h"
#include "platform/os.h"

namespace vorcnt {

// Longest path whose copy command lines still fit the 256-byte buffer.
constexpr int kMaxUsablePath = 118;

// Sets the defaults, then reads "vorcnt.cfg" from the current folder.
void read_config_file(Os& os, ControllerContext& ctx);
// Applies argv[1..argc-1]; argv[0] is skipped.
void parse_command_line(Os& os, int argc, char** argv, ControllerContext& ctx);

// The actions shared by both readers.
void keyword_help(ControllerContext& ctx);
void keyword_version(ControllerContext& ctx);
void keyword_fill(ControllerContext& ctx);
void keyword_autofill(ControllerContext& ctx);
void keyword_prog(ControllerContext& ctx);

}  // namespace vorcnt
