// The work-unit buffer: unit folders, the per-pass evaluation, the choice of
// the next unit, moving files in and out, and the client actions.
#pragma once

#include <string>

#include "core/context.h"
#include "platform/os.h"

namespace vorcnt {

// "%sunit%d" with path and number.
std::string unit_folder(const char* path, int unit);

void unitscan(Os& os, ControllerContext& ctx);
void update_data_state(ControllerContext& ctx);
void unitselect(Os& os, ControllerContext& ctx);

// Moves the client folder's "*.vwu" files into the unit folder, and back.
// Each returns true when the files moved; on failure every source file stays
// where it was and one line says why.
bool unitpush(Os& os, int unit, const char* path);
bool unitpop(Os& os, int unit, const char* path);
// Push the current unit, select the next, pop it.
void unitswap(Os& os, ControllerContext& ctx);

void calc_start(Os& os, ControllerContext& ctx);
// 1 when it found the computation finished and acted on it, else 0.
int calc_check(Os& os, ControllerContext& ctx);
void connect_start(Os& os, ControllerContext& ctx);
void connect_check(Os& os, ControllerContext& ctx);

}  // namespace vorcnt
