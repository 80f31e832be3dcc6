// What vorstat needs of the system beyond the controller's platform layer: a
// folder's listing with sizes and fine file times, to notice a move under way,
// and the process id that names the metrics file's side file. One backend per
// platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorcnt::vorstat {

// The help's last line: where this platform's users find the whole story (a
// manual page on POSIX, the zip's README on Windows).
extern const char kSeeAlso[];

// One regular file of a folder as the listing saw it.
struct FileMark {
  std::string name;
  std::int64_t size = -1;      // -1 when it vanished between listing and look-up
  std::int64_t mtime_ns = 0;   // last write, in nanoseconds where the system keeps them
  bool operator==(const FileMark&) const = default;
};

// The regular files directly in `folder` (a native path), sorted by name;
// empty when the folder cannot be read.
std::vector<FileMark> list_files(const std::string& folder);

// This process's id.
int process_id();

}  // namespace vorcnt::vorstat
