// Windows backend of the simulated world's process and file calls.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/path_text.h"
#include "sim_os.h"

namespace vorcnt::sim {

namespace {

// The argument that marks the detached copy of the client.
constexpr const char* kDetachedFlag = "--detached";

std::string module_path() {
  char buf[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return std::string(buf, n);
}

}  // namespace

std::string own_folder() {
  std::string path = module_path();
  // The folder ends at the last separator of its own, not at the second byte
  // of a double-byte character (ソ is 0x83 0x5C).
  std::size_t sep = last_separator(path);
  if (sep == std::string::npos) return {};
  return path.substr(0, sep + 1);
}

std::string temp_folder() {
  char buf[MAX_PATH + 1];
  DWORD n = GetTempPathA(MAX_PATH, buf);
  if (n == 0 || n > MAX_PATH) return ".";
  std::string text(buf, n);
  while (text.size() > 3 && ends_in_separator(text)) text.pop_back();
  return text;
}

int current_pid() { return static_cast<int>(GetCurrentProcessId()); }

bool process_alive(int pid) {
  if (pid <= 0) return false;
  HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  bool alive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return alive;
}

Detached detach_self(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[argc - 1], kDetachedFlag) == 0) return {DetachRole::child, current_pid()};
  std::string exe = module_path();
  if (exe.empty()) return {DetachRole::failed, 0};
  std::string command_line = "\"" + exe + "\" " + kDetachedFlag;
  STARTUPINFOA si;
  std::memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  std::memset(&pi, 0, sizeof pi);
  std::fflush(nullptr);
  // No inherited handles: the copy must not keep the interpreter's output open.
  if (!CreateProcessA(exe.c_str(), &command_line[0], nullptr, nullptr, FALSE,
                      DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &si, &pi)) {
    return {DetachRole::failed, 0};
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return {DetachRole::parent, static_cast<int>(pi.dwProcessId)};
}

bool replace_file(const std::string& from, const std::string& to) {
  // The controller may be reading the target at this moment; a short retry
  // rides over that sharing conflict.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    Sleep(10);
  }
  return false;
}

bool move_new(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), 0) != 0;
}

}  // namespace vorcnt::sim
