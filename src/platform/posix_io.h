// The two things every POSIX backend file needs from the system calls: a
// call interrupted by a signal is made again, and a descriptor is closed by
// its owner, on every path.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "platform/status.h"

namespace vorcnt {

// Makes `call` again for as long as it fails with EINTR, and returns its
// last result. For calls that report a failure as a negative result and the
// reason in errno.
template <typename Call>
auto retry_on_eintr(Call call) {
  for (;;) {
    const auto result = call();
    if (!(result < 0 && errno == EINTR)) return result;
  }
}

// Owns one file descriptor; -1 owns nothing.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  bool valid() const { return fd_ >= 0; }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  // Closes now, for the callers whose data is only safe once close says so
  // (a full disk may show only here). A failure names `subject`.
  Status close(const std::string& subject) {
    if (fd_ < 0 || ::close(release()) == 0) return Status();
    return Status::failed(errno, subject);
  }

 private:
  // A failure to close here follows a failure already reported, or a read.
  void reset() {
    if (fd_ >= 0) ::close(release());
  }
  int fd_ = -1;
};

// open(2) with close-on-exec, retried when interrupted.
UniqueFd open_fd(const char* name, int flags, unsigned mode = 0);

// Names that others can write. Anyone who can write a folder can put a link
// in it, so a file the controller writes, renames or removes is reached
// relative to its folder, opened once, and never through a link at its own
// name. The folder itself may be a link (a unit on another disk). A refusal
// fails with ELOOP.
//
// The folder of `path` (native, as native_path gives it), and its last name.
struct FolderAndName {
  UniqueFd folder;
  std::string name;
};
// False, with errno, when the folder cannot be opened.
bool open_folder_of(const std::string& path, FolderAndName* out);
// Opens `name` in `folder` without following a link at it, then checks that
// what was opened is the regular file the name holds, with no other name
// (fstat against lstat). O_CREAT, O_EXCL and access flags as for open(2);
// O_TRUNC is done only after the check. -1 with errno on failure.
UniqueFd open_in_folder(int folder, const char* name, int flags, unsigned mode = 0);
// 0 when `name` in `folder` may be renamed or removed (absent, or anything
// but a link), else the errno: ELOOP for a link.
int check_not_link(int folder, const char* name);

}  // namespace vorcnt
