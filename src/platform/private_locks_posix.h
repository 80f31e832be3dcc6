// Session locks that no other user can take first: lock files in folders
// that only this user can write. The POSIX session locks meet first at a
// name any user may take (an abstract socket, a file in /tmp); when that
// name is someone else's, these stand in for it. Internal to the platform
// module.
#pragma once

#include <string>
#include <vector>

#include "platform/posix_io.h"

namespace vorcnt {

// The session's key: session_key() of TMPDIR, or of "/tmp" when unset.
std::string session_key_from_environment();

struct PrivateLocks {
  enum class Result {
    taken,  // every lock in `fds` is ours (none, when only looking found none)
    held,   // another controller holds one; nothing is kept
    none,   // no folder could hold one; `problem` says why
  };
  Result result = Result::none;
  std::vector<UniqueFd> fds;
  std::string problem;
};

// "session-<key>.lock" in each folder of this user's own: $XDG_RUNTIME_DIR,
// and ".vorcnt" in the home folder ($HOME, else the password database's).
// A folder counts only when it is this user's, no one else may write it and
// its own name is no link. With `make`, ".vorcnt" (mode 0700) and the lock
// files are made where missing; without it, only locks already there are
// taken, so that a start nobody squatted leaves nothing behind.
PrivateLocks take_private_locks(const std::string& key, bool make);

}  // namespace vorcnt
