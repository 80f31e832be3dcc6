// What vorstat needs of the file system beyond the controller's readers: a
// folder's listing to notice a move under way, short pauses between reads, and
// an atomic file replacement for the metrics file. One backend per platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorcnt::vorstat {

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

// Pauses `ms` milliseconds.
void pause_ms(int ms);

}  // namespace vorcnt::vorstat
