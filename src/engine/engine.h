// The work-unit buffer: unit folders, the per-pass evaluation, the choice of
// the next unit, moving files in and out, and the client actions.
#pragma once

#include <string>

#include "core/context.h"
#include "platform/os.h"

namespace vorcnt {

// "%sunit%d" with path and number.
std::string unit_folder(const char* path, int unit);
// True for 0..15, the numbers that name a unit folder and index unit_state;
// NO_UNIT and anything else are refused by every operation that uses one.
bool is_unit_index(int unit);

void unitscan(Os& os, ControllerContext& ctx);
void update_data_state(ControllerContext& ctx);
// When neither the computing nor the sending search can succeed, it says so
// and leaves vorcnt_state at Vorcnt_error, which ends the main loop.
void unitselect(Os& os, ControllerContext& ctx);

// Moves the client folder's "*.vwu" files into the unit folder, and back.
// Each returns true when the files moved; on failure every source file stays
// where it was and one line says why.
bool unitpush(Os& os, int unit, const char* path);
bool unitpop(Os& os, int unit, const char* path);
// Push the current unit, select the next, pop it. A failed push leaves
// everything, vorcnt_state included, as it was, so a later pass retries.
void unitswap(Os& os, ControllerContext& ctx);

void calc_start(Os& os, ControllerContext& ctx);
// 1 when it found the computation finished and acted on it, else 0.
int calc_check(Os& os, ControllerContext& ctx);
// Runs the EXECEMPTY command, if one is set, when the computing search finds
// nothing left to compute; one line when it fails.
void run_execempty(Os& os, const ControllerContext& ctx);
void connect_start(Os& os, ControllerContext& ctx);
void connect_check(Os& os, ControllerContext& ctx);

}  // namespace vorcnt
