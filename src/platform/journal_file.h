// Appending to a journal file so that a stop at any moment leaves whole
// lines only: each line goes out in one write on an append-only handle and is
// synced to the disk before the call returns.
#pragma once

#include <string>
#include <string_view>

namespace vorcnt {

// Appends `line` (ending in '\n') to the file at `path`, creating it. An
// empty file first gets `header`. When the file's last byte is not a line end
// (a line torn by a power cut), the line starts with one, so it is not glued
// to the torn one. False, with the reason in `error`, when it failed.
bool append_journal_line(const char* path, std::string_view header, std::string_view line, std::string* error);

}  // namespace vorcnt
