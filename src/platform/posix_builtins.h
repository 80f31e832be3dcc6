// Shared by the two files of the built-ins: posix_builtins.cpp (the argument
// rules, del and mkdir) and posix_copy.cpp (copy).
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/status.h"

namespace vorcnt {

// A failure told in the built-ins' own words: the whole text of its line
// after the command's name.
Status refusal(std::string text);

const char* folder_or_current(const std::string& dir);
// "a/b/c" -> "a/b/" and "c"; "c" -> "" and "c". The folder part keeps its
// separator so that names can be appended directly.
void split_last(const std::string& path, std::string* dir, std::string* last);
// Drops the switches that change nothing here (overwrite prompts, binary or
// verified copies, quiet or forced deletes).
std::vector<std::string> operands(const std::vector<std::string>& args, std::initializer_list<const char*> ignored);

// What a source operand of copy or del names: the folder its files are in
// (with its separator, or "" for the current one) and their names, sorted.
// A wildcard in the last component takes the matches; copy takes regular
// files only, del any entry but a folder. A plain name is looked up: copy
// follows a link and takes a folder as all of its files; del looks at the
// entry itself (a link goes, never its target) and leaves `names` empty for
// a folder, saying so in `is_folder`.
enum class SourceUse { copy, del };
struct Sources {
  std::string dir;
  std::vector<std::string> names;
  bool is_folder = false;
};
Sources resolve_sources(const std::string& operand, SourceUse use);
// The refusal when `operand` (a native path) matches nothing. An existing
// folder with no file of a pattern is the usual case (a fresh or emptied
// unit folder) and is said as such; `not_done` is "copied" or "deleted".
Status nothing_matches(const std::string& operand, const char* not_done);

// The copy command; `args` as split, the command's name first. Prints the
// count of files copied when it succeeds.
Status copy_command(const std::vector<std::string>& args);

}  // namespace vorcnt
