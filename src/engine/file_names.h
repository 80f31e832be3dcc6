// Every name the controller forms beside the client, in one place. Two kinds,
// never mixed:
// - texts: the folder as the settings give it (ending in a separator, or ""
//   for the current folder) followed directly by the rest, as the client and
//   the command lines form them. They go into commands, the console and the
//   journal;
// - file names for the file layer, joined by path_in() in the form the system
//   takes.
#pragma once

#include <string>

namespace vorcnt {

// "<path>unit<N>": the unit folder as the command lines name it.
std::string unit_folder(const char* path, int unit);
// "<path>unit<N>\": the unit folder as a folder text, ready for a file name.
std::string unit_folder_text(const char* path, int unit);
// "<folder text>*.vwu": every file a move carries.
std::string vwu_pattern(const std::string& folder_text);
// "<path>Vorelith.exe": the client's command.
std::string client_program(const char* path);

// The file `name` in the client folder, and in unit folder `unit`.
std::string client_file(const char* path, const char* name);
std::string unit_file(const char* path, int unit, const char* name);
// Where files that match no record are set aside.
std::string damaged_folder(const char* path);

}  // namespace vorcnt
