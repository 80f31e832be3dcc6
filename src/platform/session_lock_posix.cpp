// The session lock on POSIX systems without abstract sockets: a lock file in
// /tmp itself (never TMPDIR, which may name a folder that is not there),
// named after the user and the temporary folder's name. /tmp is shared, so
// the file is opened without following a link and used only when it is the
// user's own regular file; one that is not gives way to lock files in the
// user's own folders.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix_io.h"
#include "platform/private_locks_posix.h"
#include "platform/session_lock.h"
#include "platform/status.h"

namespace vorcnt {

SessionLock::~SessionLock() {
  UniqueFd owned(static_cast<int>(handle_));
  for (long long fd : private_handles_) UniqueFd mine(static_cast<int>(fd));
}

SessionLock::Outcome SessionLock::take_name() {
  const std::string name = "/tmp/vorcnt-" + std::to_string(::getuid()) + "-" + session_key_from_environment() + ".lock";
  UniqueFd fd = open_fd(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
  if (!fd.valid()) return unavailable(name + ": " + error_text(errno));
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid())
    return unavailable(name + " is not this user's own file");
  if (retry_on_eintr([&] { return ::flock(fd.get(), LOCK_EX | LOCK_NB); }) != 0) {
    if (errno == EWOULDBLOCK) return Outcome::held;
    return unavailable(name + ": " + error_text(errno));
  }
  handle_ = fd.release();
  return Outcome::taken;
}

}  // namespace vorcnt
