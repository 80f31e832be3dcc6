// A push or pop that was stopped between its copy and its delete leaves one
// work unit's files in two places: the client folder and a unit folder. At
// start-up the scan recognises that picture and finishes the move, so the
// unit is not given a second home and computed or sent twice. Internal to
// this module.
#pragma once

#include <string>
#include <vector>

#include "engine/unit_folders.h"
#include "ground/context.h"
#include "platform/os.h"

namespace vorcnt::engine_detail {

enum class Leftover {
  none,           // the client folder's files are its own (or it holds none)
  client_copies,  // every client file is also in the unit folder, byte for byte
  unit_part,      // every file of the unit folder is also in the client folder,
                  // which holds more: the unit folder has only part of the set
};

struct InterruptedMove {
  Leftover kind = Leftover::none;
  int unit = -1;
};

// Compares the client folder `path` with unit folders 0 .. units - 1.
// client_copies ignores an empty "outfile.vwu" in the client folder that the
// unit lacks (a pop makes one), and unit_part prefers the unit holding the
// most files. In both one file may be a shorter prefix of its twin: a copy
// cut short by an interpreter that writes in place.
InterruptedMove find_interrupted_move(const char* path, int units);

// What the scan is left to do once a leftover move has been dealt with.
enum class MoveOutcome {
  nothing_found,  // carry on as before
  finished,       // the client folder holds no "*.vwu" any more: carry on as for an empty one
  unit_is_home,   // completing the push failed; calculation_unit names the unit the work belongs to
  stopped,        // the copies could not be removed; vorcnt_state is Vorcnt_error
};

// Finds and finishes an interrupted move. Only in Mode_calc and Mode_fill:
// a run whose settings are in error moves nothing.
MoveOutcome finish_interrupted_move(Os& os, ControllerContext& ctx);

}  // namespace vorcnt::engine_detail
