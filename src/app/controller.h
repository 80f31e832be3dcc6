// Entry, banners, help, dump and the polling loop.
#pragma once

#include "ground/context.h"
#include "platform/os.h"

namespace vorcnt {

// The whole life of a run; returns its exit status (ExitStatus).
int controller_main(Os& os, int argc, char** argv);

void print_help(Os& os);
// Prints the settings and the starting state. Works on its own copy.
void dump_context(Os& os, ControllerContext ctx);

// One pass of the main loop: evaluate, act on vorcnt_state, sleep.
// Returns false when this pass ended the loop.
bool loop_pass(Os& os, ControllerContext& ctx);
// Passes until the state leaves 0-5.
void main_loop(Os& os, ControllerContext& ctx);

}  // namespace vorcnt
