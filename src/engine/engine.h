// The work-unit buffer: unit folders, the per-pass evaluation, the choice of
// the next unit, moving files in and out, and the client actions.
#pragma once

#include <string>
#include <string_view>

#include "engine/unit_folders.h"
#include "ground/context.h"
#include "platform/os.h"

namespace vorcnt {


void unitscan(Os& os, ControllerContext& ctx);
void update_data_state(ControllerContext& ctx);
// When neither the computing nor the sending search can succeed, it says so
// and leaves vorcnt_state at Vorcnt_error, which ends the main loop.
void unitselect(Os& os, ControllerContext& ctx);

// Our own failure lines are printed when a failure begins and once more when
// it clears, never on every retry. `shown` holds the line now showing; with
// null every failure is printed.
// `line` is whole, ending in a line end; `text` is written unchanged (a path
// or a name, not converted as CP932) where kVerbatim stands in it.
// What a failed file operation says in a line: the system's text, or ours
// for a name refused because it is a link.
std::string reason_of(const Status& s);
void report_failure(Os& os, std::string* shown, const std::string& line, std::string_view text = {});
// `name` is the move's name, for "[Unit%d] %s: the earlier failure has cleared".
void report_cleared(Os& os, std::string* shown, int unit, const char* name);

// Moves the client folder's "*.vwu" files into the unit folder, and back.
// Each returns true when the files moved: copied, and gone from the source.
// On failure every file is where it was before (copies already made are
// removed) and one line says why; `shown` as for report_failure.
bool unitpush(Os& os, int unit, const char* path, std::string* shown = nullptr);
bool unitpop(Os& os, int unit, const char* path, std::string* shown = nullptr);
// Push the current unit, select the next, pop it. A failed push leaves
// everything, vorcnt_state included, as it was, so a later pass retries; a
// failed pop leaves pop_pending, and the loop retries it before anything
// else happens in the client folder. With settings in error nothing is
// selected: the unit is pushed home and the run ends.
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
