// Verification of the interpreter's "copy <from>*.vwu <to>" against the
// move's record: the controller deletes a source only after every file of it
// has arrived whole. Internal to this module.
#pragma once

#include <string>
#include <vector>

#include "engine/move_record.h"
#include "engine/unit_folders.h"

namespace vorcnt::engine_detail {

// The outcome of one check; on failure `reason` says what went wrong in a
// few words (the first file that did not arrive, the status, or the folder
// that could not be read).
struct CopyCheck {
  bool ok = false;
  std::string reason;
};

// Checks a finished copy of the files `recorded` (every "*.vwu" regular file
// of folder `from` when the move began) into folder `to`: each must be in
// `to` with the size and digest recorded, and `from` must hold no "*.vwu"
// file the record does not name. Folders are given as in the command lines
// ("" is the current folder, a trailing separator is allowed). A non-zero
// `copy_status` fails the copy unless nothing was to be copied, which is how
// the interpreter reports a copy that had nothing to do. Each copy is read
// once; the sources are not read again.
CopyCheck check_copy(const std::string& from, const std::string& to, int copy_status,
                     const std::vector<RecordedFile>& recorded);

}  // namespace vorcnt::engine_detail
