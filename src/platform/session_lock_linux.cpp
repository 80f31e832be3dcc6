// The session lock on Linux: an abstract-namespace socket, seen from every
// mount namespace (a service's private /tmp included) and gone with the
// process. Abstract names carry no permissions, so anyone may bind one first;
// the holder is asked for its user id before it counts as another controller,
// and a name someone else holds gives way to lock files in the user's own
// folders.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/posix_io.h"
#include "platform/private_locks_posix.h"
#include "platform/session_lock.h"
#include "platform/status.h"

namespace vorcnt {

namespace {

struct AbstractName {
  sockaddr_un addr = {};
  socklen_t size = 0;
  std::string shown;  // as ss(8) shows it
};

AbstractName session_name() {
  const std::string name = "vorcnt-" + std::to_string(::getuid()) + "-" + session_key_from_environment();
  AbstractName a;
  a.addr.sun_family = AF_UNIX;
  std::memcpy(a.addr.sun_path + 1, name.data(), name.size());  // sun_path[0] stays 0: abstract
  a.size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  a.shown = "@" + name;
  return a;
}

std::string said(const char* what, int error) { return std::string(what) + ": " + error_text(error); }

}  // namespace

SessionLock::~SessionLock() {
  UniqueFd owned(static_cast<int>(handle_));
  for (long long fd : private_handles_) UniqueFd mine(static_cast<int>(fd));
}

SessionLock::Outcome SessionLock::take_name() {
  const AbstractName name = session_name();
  const auto* addr = reinterpret_cast<const sockaddr*>(&name.addr);
  // Close-on-exec: the client started later must not keep the lock alive.
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return unavailable(said("no local socket", errno));
  if (::bind(fd.get(), addr, name.size) == 0) {
    // Listening lets a second controller ask who holds the name.
    if (::listen(fd.get(), SOMAXCONN) != 0) return unavailable(said("the socket cannot listen", errno));
    handle_ = fd.release();
    return Outcome::taken;
  }
  const int bind_error = errno;
  fd = UniqueFd();
  if (bind_error != EADDRINUSE) return unavailable(said("the socket cannot be named", bind_error));

  const UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!probe.valid()) return unavailable(said("no local socket", errno));
  Outcome outcome = Outcome::held;
  if (::connect(probe.get(), addr, name.size) == 0) {
    struct ucred peer = {};
    socklen_t size = sizeof peer;
    if (::getsockopt(probe.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
      outcome = unavailable(said("its holder cannot be asked", errno));
    } else if (peer.uid != ::getuid()) {
      outcome = unavailable(name.shown + " is taken by user id " + std::to_string(peer.uid));
    }
  } else if (errno == ECONNREFUSED) {
    // Every controller listens; a name that is only bound is someone else's.
    outcome = unavailable(name.shown + " is taken by a program that is not vorcnt");
  } else if (errno != EAGAIN) {
    // EAGAIN: a controller that has been asked so often that its queue is
    // full. Anything else is no answer at all.
    outcome = unavailable(said("its holder cannot be asked", errno));
  }
  return outcome;
}

}  // namespace vorcnt
