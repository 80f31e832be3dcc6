// The unit folders beside the client: how many there are, what they are and
// what they hold. Their names come from file_names.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/file_names.h"
#include "ground/context.h"
#include "platform/status.h"

namespace vorcnt {

// True for an index into unit_state; NO_UNIT and the rest are not.
bool is_unit_index(int unit);
// Unit folders in use: unit0 upward to the first one missing, 16 at most.
// A name that is not a folder (a plain file, a link to a device or to
// nothing) ends them as a missing one does.
int count_unit_folders(const char* path);
// True when the name of unit folder `unit` is taken by something that is
// not a folder: it is never made, moved into or out of, or deleted.
bool unit_name_not_folder(const char* path, int unit);

// What else unit folder `unit` is, when it is no folder of its own: "the
// client folder", or "unit<J>" for another unit folder (a link, a bind mount
// or a junction reaching the same folder), whether or not a missing number
// lies between them. Empty when it is its own folder, when it is no folder,
// or when it cannot be looked at (the move that follows then says why). Only
// unit folders below `below` are compared, so a scan names each pair once.
std::string same_folder_as(const char* path, int unit, int below = kMaxUnits);

// The data state of a unit folder named as unit_folder() names it. The
// readers append file names directly, so the folder is given with a trailing
// backslash (doubled for the client folder, which already ends in one; it
// names the same folder).
std::int32_t classify_as_folder(const std::string& folder);

// True for the names "*.vwu" matches, the extension in any case.
bool is_vwu_name(const std::string& name);
// Names of the "*.vwu" files in `folder` (given as in the command lines),
// sorted. A failure says the names are not all known: those read so far are
// given, and an empty list then proves nothing.
Status vwu_files(const std::string& folder, std::vector<std::string>* names);

}  // namespace vorcnt
