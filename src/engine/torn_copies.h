// After a power cut a move can leave copies that have the right name but not
// the right bytes: empty, or zero-filled where the data never reached the
// disk. At start-up these are put right before anything is computed or sent.
// Internal to this module.
#pragma once

#include <string>

#include "ground/context.h"
#include "platform/os.h"

namespace vorcnt::engine_detail {

// True when the file `name` in `folder` cannot be what the client wrote: the
// client writes text, so a NUL byte means a block that never reached the
// disk, and an empty file is one whose data never did (an empty output or
// partial-download file is normal). A file that cannot be read is not judged.
bool is_torn(const std::string& folder, const std::string& name);

// True when file `torn` could be a damaged copy of file `whole`: no longer,
// and every byte that is not NUL the same as in `whole` at that place.
bool torn_copy_of(const std::string& torn, const std::string& whole);

// Puts right the torn "*.vwu" files of the client folder and its unit folders
// (unit0 upward to the first gap). A torn copy whose intact twin is in the
// other place of its move is removed; every other torn file is set aside,
// unchanged, in "damaged\<folder>" beside the unit folders. One line for
// each. Nothing else is touched, and only in Mode_calc and Mode_fill. True
// when a file was removed or set aside.
bool mend_torn_copies(Os& os, const ControllerContext& ctx);

}  // namespace vorcnt::engine_detail
