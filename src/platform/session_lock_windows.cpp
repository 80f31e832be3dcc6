// The session lock on Windows: a named mutex in the logon session's own
// namespace ("Local\"), which every process of that session sees and which
// goes with the last handle, that is with the process. The handle is not
// inherited, so the client started later does not keep it. Another user in
// the same session (services share one) may make the mutex first: one whose
// owner is not this user is said, never taken for another controller.
#include <windows.h>
#include <aclapi.h>

#include <string>
#include <vector>

#include "platform/handle_windows.h"
#include "platform/session_lock.h"

namespace vorcnt {

namespace {

// The SID `kind` (TokenUser or TokenOwner) of this process's token, in `buf`.
PSID token_sid(HANDLE token, TOKEN_INFORMATION_CLASS kind, std::vector<unsigned char>& buf) {
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  buf.assign(size, 0);
  if (size == 0 || GetTokenInformation(token, kind, buf.data(), size, &size) == 0) return nullptr;
  return kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid
                           : reinterpret_cast<TOKEN_OWNER*>(buf.data())->Owner;
}

// False only when the mutex's owner is known and is neither this user nor
// the owner this process gives what it makes (an elevated one gives the
// administrators). An owner that cannot be read is taken for this user's, as
// before: a held lock ends the run either way, only its line differs.
bool owned_by_this_user(HANDLE mutex) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &sd) !=
      ERROR_SUCCESS)
    return true;
  HANDLE raw = nullptr;
  bool mine = true;
  if (owner != nullptr && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw) != 0) {
    const UniqueHandle token(raw);
    std::vector<unsigned char> user, made_by;
    const PSID a = token_sid(token.get(), TokenUser, user);
    const PSID b = token_sid(token.get(), TokenOwner, made_by);
    if (a != nullptr && b != nullptr) mine = EqualSid(owner, a) || EqualSid(owner, b);
  }
  LocalFree(sd);
  return mine;
}

}  // namespace

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
  if (GetLastError() == ERROR_ALREADY_EXISTS)
    return owned_by_this_user(h.get()) ? Outcome::held : unavailable(name + " is owned by another user");
  handle_ = static_cast<long long>(reinterpret_cast<intptr_t>(h.release()));
  return Outcome::taken;
}

}  // namespace vorcnt
