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

}  // namespace vorcnt
