// What the simulated programs need of the operating system beyond what the
// controller's platform layer offers (names through fs_path and fs_name,
// separators, listings: platform/files.h and platform/path_text.h). Each
// platform has one whole file behind this header: sim_posix.cpp or
// sim_windows.cpp.
#pragma once

#include <string>

namespace vorcnt::sim {

// Folder of the running executable, ending in '/' (or '\' on Windows); empty
// when it cannot be found.
std::string own_folder();

// The system temp folder, without a trailing separator.
std::string temp_folder();

int current_pid();

// False once the process has ended (a zombie counts as ended).
bool process_alive(int pid);

// Detaching: the parent learns the child's pid and should end; the child goes
// on without the caller's console or output handles.
enum class DetachRole { parent, child, failed };
struct Detached {
  DetachRole role;
  int child_pid;
};
Detached detach_self(int argc, char** argv);

// Renames `from` to `to`, replacing `to` in one step. False on failure.
bool replace_file(const std::string& from, const std::string& to);

// Renames `from` to `to` only when `to` does not exist yet; false otherwise,
// and `from` then stays where it was.
bool move_new(const std::string& from, const std::string& to);

}  // namespace vorcnt::sim
