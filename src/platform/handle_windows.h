// Owns one Windows handle, closed on every path.
#pragma once

#include <windows.h>

#include <utility>

namespace vorcnt {

class UniqueHandle {
 public:
  UniqueHandle() = default;
  // Takes INVALID_HANDLE_VALUE and null alike as no handle.
  explicit UniqueHandle(HANDLE h) : h_(h == nullptr ? INVALID_HANDLE_VALUE : h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = other.release();
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  HANDLE release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }
  // Closes now, for the callers whose data is only safe once the close
  // succeeds: 0, or GetLastError's number.
  DWORD close() {
    if (!valid()) return 0;
    return CloseHandle(release()) != 0 ? 0 : GetLastError();
  }

 private:
  void reset() {
    if (valid()) CloseHandle(release());
  }
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace vorcnt
