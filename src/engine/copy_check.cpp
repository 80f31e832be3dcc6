#include "engine/copy_check.h"

#include <cstdint>

#include "engine/unit_folders.h"
#include "ground/messages.h"
#include "platform/files.h"

namespace vorcnt::engine_detail {

namespace {

std::string shown(const std::string& folder) { return folder.empty() ? std::string(".") : folder; }

}  // namespace

CopyCheck check_copy(const std::string& from, const std::string& to, int copy_status) {
  CopyCheck result;
  // A source that exists but is not a folder (a plain file named like a unit
  // folder) holds no files: the copy had nothing to move, and nothing can be
  // lost by the delete that follows it.
  if (exists_but_not_folder(from)) {
    result.ok = true;
    return result;
  }
  const FolderListing listing = list_folder(from);
  if (!listing.opened) {
    // Nothing can be said about what was to be copied, so nothing may be
    // deleted on the strength of it.
    result.reason = msg::kCannotReadTheFolder + shown(from);
    return result;
  }
  bool any_source = false;
  for (const FolderEntry& entry : listing.entries) {
    const std::string& name = entry.name;
    if (!is_vwu_name(name) || !entry.regular) continue;
    any_source = true;
    const std::string original = path_in(from, name);
    std::uintmax_t size = 0;
    if (!file_size_of(original, &size)) {
      result.reason = name + msg::kDidNotArrive;
      return result;
    }
    const std::string copy = path_in(to, name);
    std::uintmax_t copy_size = 0;
    if (!is_regular_file(copy) || !file_size_of(copy, &copy_size) || copy_size != size) {
      // Name the cause where it shows: a folder nothing can be written into,
      // or a source file that cannot be read.
      const std::string unwritable = write_problem(to.c_str());
      const std::string unreadable = read_problem(original.c_str());
      if (!unwritable.empty())
        result.reason = shown(to) + msg::kCannotBeWritten + unwritable + ")";
      else if (!unreadable.empty())
        result.reason = name + msg::kCannotBeRead + unreadable + ")";
      else
        result.reason = name + msg::kDidNotArrive;
      return result;
    }
    if (!same_contents(original, copy)) {
      result.reason = name + msg::kArrivedWithOtherBytes;
      return result;
    }
    result.files.push_back(name);
  }
  if (!listing.complete) {
    result.reason = msg::kCannotReadTheFolder + shown(from);
    return result;
  }
  if (copy_status != 0 && any_source) {
    result.reason = msg::kTheCopyFailedStatus + std::to_string(copy_status) + ")";
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace vorcnt::engine_detail
