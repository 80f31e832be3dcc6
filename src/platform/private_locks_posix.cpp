// Lock files in folders that only this user can write.
#include "platform/private_locks_posix.h"
#include "platform/status.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/session_lock.h"

namespace vorcnt {

namespace {

std::string said(const std::string& what, int error) { return what + ": " + error_text(error); }

// The home folder: $HOME as every program of the user sees it (a service
// gets its user's), else the password database's.
std::string home_folder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  struct passwd pw;
  struct passwd* found = nullptr;
  char buf[4096];
  if (::getpwuid_r(::geteuid(), &pw, buf, sizeof buf, &found) == 0 && found != nullptr && found->pw_dir != nullptr &&
      found->pw_dir[0] == '/')
    return found->pw_dir;
  return std::string();
}

std::vector<std::string> private_folders(bool make, std::string* problem) {
  std::vector<std::string> folders;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') folders.push_back(runtime);
  const std::string home = home_folder();
  if (home.empty()) {
    *problem = "no home folder";
    return folders;
  }
  const std::string mine = home + "/.vorcnt";
  // One already there is checked like any other, below.
  if (make && ::mkdir(mine.c_str(), 0700) != 0 && errno != EEXIST) *problem = said(mine, errno);
  folders.push_back(mine);
  return folders;
}

// The folder, opened when it is this user's own and no one else may write
// it; never through a link at its own name.
UniqueFd own_folder(const std::string& name, struct stat* st, std::string* problem) {
  UniqueFd fd = open_fd(name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (!fd.valid()) {
    if (errno != ENOENT || problem->empty()) *problem = said(name, errno);
    return fd;
  }
  if (::fstat(fd.get(), st) != 0 || st->st_uid != ::geteuid() || (st->st_mode & 077) != 0) {
    *problem = name + " is not a folder of this user's own with mode 0700";
    return UniqueFd();
  }
  return fd;
}

// One lock file; `held` set when another process holds it.
UniqueFd lock_in(int folder, const std::string& shown, const std::string& file, bool make, bool* held,
                 std::string* problem) {
  UniqueFd fd(::openat(folder, file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (make ? O_CREAT : 0), 0600));
  struct stat st;
  if (!fd.valid()) {
    if (errno != ENOENT) *problem = said(shown, errno);
    return fd;
  }
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    *problem = shown + " is not this user's own file";
    return UniqueFd();
  }
  if (retry_on_eintr([&] { return ::flock(fd.get(), LOCK_EX | LOCK_NB); }) != 0) {
    if (errno == EWOULDBLOCK) *held = true;
    else *problem = said(shown, errno);
    return UniqueFd();
  }
  return fd;
}

}  // namespace

std::string session_key_from_environment() {
  const char* tmp = std::getenv("TMPDIR");
  return session_key(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
}

PrivateLocks take_private_locks(const std::string& key, bool make) {
  PrivateLocks locks;
  const std::string file = "session-" + key + ".lock";
  std::vector<std::pair<dev_t, ino_t>> seen;  // one folder by two names is locked once
  for (const std::string& name : private_folders(make, &locks.problem)) {
    struct stat st;
    const UniqueFd folder = own_folder(name, &st, &locks.problem);
    if (!folder.valid()) continue;
    const std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
    bool again = false;
    for (const auto& s : seen) again = again || s == id;
    if (again) continue;
    seen.push_back(id);
    bool held = false;
    UniqueFd lock = lock_in(folder.get(), name + "/" + file, file, make, &held, &locks.problem);
    if (held) {
      locks.fds.clear();
      locks.result = PrivateLocks::Result::held;
      return locks;
    }
    if (lock.valid()) locks.fds.push_back(std::move(lock));
  }
  if (!locks.fds.empty() || !make) locks.result = PrivateLocks::Result::taken;
  return locks;
}

// Both POSIX backends: each has its own take_name().
SessionLock::Outcome SessionLock::take() {
  switch (take_name()) {
    case Outcome::held:
      return Outcome::held;
    case Outcome::taken:
      // A controller that started while someone else held the name holds
      // a lock file instead.
      if (take_private_locks(session_key_from_environment(), false).result != PrivateLocks::Result::held)
        return Outcome::taken;
      UniqueFd(static_cast<int>(std::exchange(handle_, -1)));
      return Outcome::held;
    case Outcome::unavailable:
      break;
  }
  return take_private_too();
}

SessionLock::Outcome SessionLock::take_private_too() {
  PrivateLocks mine = take_private_locks(session_key_from_environment(), true);
  if (mine.result == PrivateLocks::Result::held) return Outcome::held;
  if (mine.result == PrivateLocks::Result::none)
    return unavailable(problem_ + "; no lock file of this user's own stands in for it (" +
                       (mine.problem.empty() ? std::string("no folder for one") : mine.problem) + ")");
  // The name may have come free meanwhile: one taken now is kept, and one
  // that a controller took meanwhile means that controller runs.
  if (take_name() == Outcome::held) return Outcome::held;
  for (UniqueFd& fd : mine.fds) private_handles_.push_back(fd.release());
  problem_.clear();
  return Outcome::taken;
}


}  // namespace vorcnt
