// Owns one Windows handle, closed on every path.
#pragma once

#include <windows.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "platform/status.h"

namespace vorcnt {

// The C runtime's number for a system error, so that one text table serves
// every platform.
inline int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    default: return EIO;
  }
}

// Writes `text` to `h` with each line end as CR LF, in one write, so that a
// line is never split by another writer. The bytes written, in `written`.
inline bool write_crlf(HANDLE h, std::string_view text, std::size_t* written) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  DWORD done = 0;
  *written = out.size();
  return WriteFile(h, out.data(), static_cast<DWORD>(out.size()), &done, nullptr) && done == out.size();
}

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
  // succeeds. A failure names `subject`.
  Status close(const std::string& subject) {
    if (!valid() || CloseHandle(release()) != 0) return Status();
    return Status::failed(errno_of(GetLastError()), subject);
  }

 private:
  void reset() {
    if (valid()) CloseHandle(release());
  }
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Names that others can write: a reparse point (a symbolic link, a
// junction) is never written, renamed or removed through. Opens `name`
// itself, never what a reparse point there leads to, as CreateFileW would
// with `access`, `share` and `disposition`; a reparse point, or a file with
// more than one name, is closed again and gives no handle, with ELOOP in
// `error` (the C runtime's number otherwise).
UniqueHandle open_not_through_link(const std::wstring& name, DWORD access, DWORD share, DWORD disposition,
                                   int* error);
// ELOOP when `name` is a reparse point; 0 when not, or absent.
int foreign_link_at(const std::wstring& name);

}  // namespace vorcnt
