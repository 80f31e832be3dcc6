// What the simulated programs need of the operating system. Each platform has
// one whole file behind this header: sim_posix.cpp or sim_windows.cpp.
#pragma once

#include <filesystem>
#include <string>

namespace vorcnt::sim {

// The simulated programs' names are bytes as the narrow system calls take
// them (the ANSI code page on Windows, 932 on a Japanese system), which
// std::filesystem would read as UTF-8 there: names go to it through fs_path and
// come back through fs_name.
std::filesystem::path fs_path(const std::string& name);
std::string fs_name(const std::filesystem::path& path);

// True when `path` ends in a separator of its own, not in the second byte of
// a double-byte character (ソ is 0x83 0x5C in code page 932).
bool ends_in_separator(const std::string& path);

// Folder of the running executable, ending in '/' (or '\' on Windows); empty
// when it cannot be found.
std::string own_folder();

// The system temp folder, without a trailing separator.
std::string temp_folder();

int current_pid();

// False once the process has ended (a zombie counts as ended).
bool process_alive(int pid);

void sleep_ms(long long milliseconds);

// Milliseconds from an arbitrary fixed point, never going back.
long long monotonic_ms();

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
