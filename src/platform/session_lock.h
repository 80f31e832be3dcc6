// One controller per user session. The closer stops whichever client runs, so
// a second controller anywhere, even one asked only for -version, would stop
// the first one's client with its start-up order.
//
// The session is the user together with the *name* of the temporary folder
// (TMPDIR, else /tmp; on Windows the temporary path, TEMP): a service with a
// private /tmp still calls it /tmp and meets a shell of the same user, while
// runs that each set a TMPDIR of their own (as the simulated closer's
// registry does) stay apart. Nothing depends on that folder existing.
//
// Where the lock lives, by backend:
//   Linux         an abstract-namespace socket "vorcnt-<uid>-<key>", which
//                 mount namespaces (a private /tmp) do not hide; its holder
//                 is asked who it is, so another user's squatter is told apart;
//   other POSIX   a lock file /tmp/vorcnt-<uid>-<key>.lock, mode 0600, used
//                 only when it is the user's own regular file;
//   Windows       a mutex "Local\vorcnt-<key>" in the logon session, counted
//                 as another controller only when its owner is this user's.
// Any user may take a POSIX name first. Then the lock is a lock file
// "session-<key>.lock" in the user's own 0700 folders instead
// (private_locks_posix.h): $XDG_RUNTIME_DIR and ~/.vorcnt. Every start looks
// for those files too, so a start after the squatter left still meets a
// controller that began while it was there. `key` is session_key() of the
// temporary folder's name. The lock belongs to the OS and dies with the
// process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vorcnt {

class SessionLock {
 public:
  enum class Outcome {
    taken,        // ours until this object goes
    held,         // another controller of this user runs in this session
    unavailable,  // the lock cannot be made; problem() says why
  };
  SessionLock() = default;
  ~SessionLock();
  SessionLock(const SessionLock&) = delete;
  SessionLock& operator=(const SessionLock&) = delete;

  Outcome take();
  // Why the lock could not be made, in a few words; empty otherwise.
  const std::string& problem() const { return problem_; }

 private:
  Outcome unavailable(std::string why) {
    problem_ = std::move(why);
    return Outcome::unavailable;
  }
  // POSIX: the name any user may take first, then the locks no one else can.
  Outcome take_name();
  Outcome take_private_too();
  long long handle_ = -1;
  std::vector<long long> private_handles_;  // POSIX: lock files in the user's own folders
  std::string problem_;
};

// 16 hex digits naming a temporary folder: FNV-1a of the name without its
// trailing separators (an empty name counts as "/").
inline std::string session_key(std::string_view temp_folder) {
  while (temp_folder.size() > 1 && (temp_folder.back() == '/' || temp_folder.back() == '\\'))
    temp_folder.remove_suffix(1);
  if (temp_folder.empty()) temp_folder = "/";
  std::uint64_t h = 14695981039346656037ULL;
  for (char c : temp_folder) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ULL;
  }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

}  // namespace vorcnt
