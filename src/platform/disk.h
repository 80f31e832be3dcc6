// The file operations a move and its recovery depend on, behind the seam:
// each one's failure decides whether a unit's files may be deleted, so tests
// must be able to make any of them fail.
#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace vorcnt {

// Files are named as path_in() forms them; folders as the command lines name
// them ("" is the current folder; a backslash separates folders on POSIX too).
// Abstract so it can be mocked out for tests.
class Disk {
 public:
  virtual ~Disk() = default;
  // Creates `path` (or empties it) and writes all of `bytes`; not synced.
  virtual Status write_file(const std::string& path, std::string_view bytes) = 0;
  // Pushes a file's data, or a folder's entries, to the disk. Both succeed
  // at once while durable writes are off (benchmarks only).
  virtual Status sync_file(const std::string& path) = 0;
  virtual Status sync_folder(const std::string& folder) = 0;
  // Replaces `to` if it exists.
  virtual Status rename(const std::string& from, const std::string& to) = 0;
  // A file already gone is no error.
  virtual Status remove(const std::string& path) = 0;
  // Copies to a name not yet taken (a taken name is a failure); not synced.
  virtual Status copy_new(const std::string& from, const std::string& to) = 0;
  // Makes the folder and those above it; an existing folder is no error.
  virtual Status make_folders(const std::string& folder) = 0;
  // Creates `path`, which must not exist yet, and writes all of `bytes`; not
  // synced. Never through a link: a name already taken, a link included, is
  // a failure.
  virtual Status write_new_file(const std::string& path, std::string_view bytes) = 0;
  // True when `path` is a symbolic link (or, on Windows, any reparse point).
  virtual bool is_link(const std::string& path) = 0;
  // Appends one journal line, synced, as append_journal_line does
  // (journal_file.h); a journal it makes has its name synced too.
  virtual Status append_line(const char* path, std::string_view header, std::string_view line) = 0;
};

// The disk as it is; one for the whole program.
Disk& real_disk();

}  // namespace vorcnt
