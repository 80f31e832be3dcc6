// The session lock on Windows: a named mutex in the logon session's own
// namespace ("Local\"), which every process of that session sees and which
// goes with the last handle, that is with the process. The handle is not
// inherited, so the client started later does not keep it.
#include <windows.h>

#include <string>

#include "platform/handle_windows.h"
#include "platform/session_lock.h"

namespace vorcnt {

SessionLock::~SessionLock() {
  if (handle_ != -1) UniqueHandle owned(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle_)));
}

SessionLock::Outcome SessionLock::take() {
  char dir[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof dir, dir);
  if (n == 0 || n > MAX_PATH) return unavailable("the temporary folder's name cannot be had");
  // Folder names are not case-sensitive here.
  std::string temp(dir, n);
  for (char& c : temp)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  const std::string name = "Local\\vorcnt-" + session_key(temp);
  UniqueHandle h(CreateMutexA(nullptr, FALSE, name.c_str()));
  if (!h.valid()) {
    const DWORD error = GetLastError();
    // Made by another user in this session, with rights that shut us out.
    if (error == ERROR_ACCESS_DENIED) return unavailable(name + " is taken by another user");
    return unavailable(name + ": error " + std::to_string(static_cast<unsigned long>(error)));
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) return Outcome::held;
  handle_ = static_cast<long long>(reinterpret_cast<intptr_t>(h.release()));
  return Outcome::taken;
}

}  // namespace vorcnt
