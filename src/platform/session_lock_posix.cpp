// The session lock on POSIX systems without abstract sockets: a lock file in
// /tmp itself (never TMPDIR, which may name a folder that is not there),
// named after the user and the temporary folder's name. /tmp is shared, so
// the file is opened without following a link and used only when it is the
// user's own regular file.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/session_lock.h"

namespace vorcnt {

SessionLock::~SessionLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

SessionLock::Outcome SessionLock::take() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string name = "/tmp/vorcnt-" + std::to_string(::getuid()) + "-" +
                           session_key(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + ".lock";
  const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return unavailable(name + ": " + std::strerror(errno));
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
    ::close(fd);
    return unavailable(name + " is not this user's own file");
  }
  int r;
  do {
    r = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return Outcome::held;
    return unavailable(name + ": " + std::strerror(error));
  }
  handle_ = fd;
  return Outcome::taken;
}

}  // namespace vorcnt
