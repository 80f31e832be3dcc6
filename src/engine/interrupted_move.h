// A push or pop that was stopped partway leaves one work unit's files in two
// places: the client folder and a unit folder. At start-up the move's own
// record says which move it was and what every file must hold, and the move
// is finished or undone by that alone, so the unit is not given a second home
// and computed or sent twice. Internal to this module.
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

// For folders left without a record (by an earlier version): compares the
// client folder `path` with unit folders 0 .. units - 1, file by file, twins
// only when byte-identical and two different files. client_copies ignores an
// empty "outfile.vwu" in the client folder that the unit lacks (a pop makes
// one), and unit_part prefers the unit holding the most files.
InterruptedMove find_interrupted_move(const char* path, int units);

// True when a record, or a leftover without one, says a move was stopped.
bool move_left_halfway(const char* path, int units);

// What the scan is left to do once a leftover move has been dealt with.
enum class MoveOutcome {
  nothing_found,  // carry on as before
  finished,       // put right: carry on, classifying the client folder afresh
  unit_is_home,   // the client folder holds work whose unit calculation_unit names
  stopped,        // nothing more may be done; vorcnt_state is Vorcnt_error
};

// Finishes or undoes the move its record names; without a record, finishes
// a leftover that find_interrupted_move proves. Only in Mode_calc and
// Mode_fill: a run whose settings are in error moves nothing. A file that is
// not what the record says is set aside in "damaged\<folder>", never deleted.
MoveOutcome finish_interrupted_move(Os& os, ControllerContext& ctx);

}  // namespace vorcnt::engine_detail
