#include "engine/copy_check.h"

#include <algorithm>
#include <cstdint>

#include "engine/unit_folders.h"
#include "ground/messages.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/language.h"

namespace vorcnt::engine_detail {

namespace {

std::string shown(const std::string& folder) { return folder.empty() ? std::string(".") : folder; }

bool recorded_name(const std::vector<RecordedFile>& recorded, const std::string& name) {
  return std::any_of(recorded.begin(), recorded.end(), [&](const RecordedFile& f) { return f.name == name; });
}

// Why the copy of `file` is missing or short, naming the cause where it
// shows: a folder nothing can be written into, or a source that cannot be
// read.
std::string why_not_arrived(const std::string& from, const std::string& to, const RecordedFile& file) {
  const std::string& name = file.name;
  Status unwritable = check_writable(to.c_str());
  if (unwritable.ok()) unwritable = check_room(to.c_str(), file.size);
  const Status unreadable = check_readable(path_in(from, name).c_str());
  if (!unwritable.ok())
    return format_text(msg::kDestinationUnwritable, shown(to).c_str(), tr(unwritable.reason().c_str()));
  if (!unreadable.ok()) return format_text(msg::kSourceFileUnreadable, name.c_str(), tr(unreadable.reason().c_str()));
  return format_text(msg::kCopyAbsent, name.c_str());
}

}  // namespace

CopyCheck check_copy(const std::string& from, const std::string& to, int copy_status,
                     const std::vector<RecordedFile>& recorded) {
  CopyCheck result;
  // A source that exists but is not a folder (a plain file named like a unit
  // folder) holds no files: the copy had nothing to move, and nothing can be
  // lost by the delete that follows it.
  if (recorded.empty() && exists_but_not_folder(from)) {
    result.ok = true;
    return result;
  }
  const FolderListing listing = list_folder(from);
  if (!listing.status.ok()) {
    // Nothing can be said about what the delete would take, so nothing may
    // be deleted on the strength of it.
    result.reason = format_text(msg::kSourceFolderUnlisted, shown(from).c_str());
    return result;
  }
  for (const FolderEntry& entry : listing.entries) {
    // A file that came after the record was made would go unverified.
    if (is_vwu_name(entry.name) && entry.regular && !recorded_name(recorded, entry.name)) {
      result.reason = format_text(msg::kSourceAppeared, entry.name.c_str());
      return result;
    }
  }
  for (const RecordedFile& file : recorded) {
    const std::string copy = path_in(to, file.name);
    const NameLook look = look_at_name(copy);
    // Bytes behind a link are not the controller's to keep.
    if (look.link) {
      result.reason = format_text(msg::kDestinationIsALink, file.name.c_str());
      return result;
    }
    std::uintmax_t copy_size = 0;
    if (!look.regular || look.size != file.size) {
      result.reason = why_not_arrived(from, to, file);
      return result;
    }
    Digest digest;
    int error = 0;
    if (!digest_file(copy, &digest, &copy_size, &error) || digest != file.digest || copy_size != file.size) {
      result.reason = format_text(msg::kCopyBytesDiffer, file.name.c_str());
      return result;
    }
  }
  if (copy_status != 0 && !recorded.empty()) {
    result.reason = format_text(msg::kCopyStatusFailed, copy_status);
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace vorcnt::engine_detail
