// Appending to a journal file so that a stop at any moment leaves whole
// lines only: each line goes out in one write on an append-only handle and is
// synced to the disk before the call returns.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/status.h"

namespace vorcnt {

// Appends `line` (ending in '\n') to the file at `path`, creating it. An
// empty file first gets `header`. When the file's last byte is not a line end
// (a line torn by a power cut), the line starts with one, so it is not glued
// to the torn one.
Status append_journal_line(const char* path, std::string_view header, std::string_view line);

// What each platform gives the journal: the file opened for appending, with
// a look at its last byte where the access allows one. Closed when it goes.
class JournalFile {
 public:
  JournalFile() = default;
  ~JournalFile();
  JournalFile(const JournalFile&) = delete;
  JournalFile& operator=(const JournalFile&) = delete;

  // Creates the file when missing; only a regular file is taken.
  Status open(const char* path);
  Status size(std::uint64_t* bytes);
  // False when the byte cannot be read (the file may only be appended to).
  bool byte_at(std::uint64_t offset, char* byte);
  // One write, line ends as this platform's tools expect them.
  Status append(std::string_view text);
  Status sync();
  Status close();

 private:
  std::intptr_t handle_ = -1;
  const char* path_ = "";
};

}  // namespace vorcnt
