// Verification of the interpreter's "copy <from>*.vwu <to>": the controller
// deletes a source only after every file of it has arrived whole. Internal to
// this module.
#pragma once

#include <string>
#include <vector>

#include "engine/unit_folders.h"

namespace vorcnt::engine_detail {

// The outcome of one check; on failure `reason` says what went wrong in a
// few words (the first file that did not arrive, the status, or the folder
// that could not be read).
struct CopyCheck {
  bool ok = false;
  std::string reason;
  std::vector<std::string> files;  // the names checked, for syncing them
};

// Checks a finished copy of every "*.vwu" file (extension in any case) of
// folder `from` into folder `to`: each must be in `to`, a file with the same
// bytes (a copy of the right size can still be torn or zero-filled). Folders are given as in the command lines ("" is the current folder,
// a trailing separator is allowed). A non-zero `copy_status` fails the copy
// unless `from` held no such file at all, which is how the interpreter
// reports a copy that had nothing to do. A `from` that is not a folder holds
// no such file.
CopyCheck check_copy(const std::string& from, const std::string& to, int copy_status);

}  // namespace vorcnt::engine_detail
