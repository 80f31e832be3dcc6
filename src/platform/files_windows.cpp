// Windows file probes: the names the controller forms are already native,
// backslashes and all, so they go to the C runtime unchanged.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files.h"

namespace vorcnt {

std::string native_path(const char* path) { return std::string(path); }

int open_for_reading(const char* path) {
  if (std::strlen(path) > kMaxFileName) return -1;
  // Shared as the client expects; only a file on disk is read (a pipe or a
  // device could block or never end).
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return -1;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  if (fd < 0) CloseHandle(h);
  return fd;
}

long read_some(int handle, char* buf, std::size_t size) {
  return _read(handle, buf, static_cast<unsigned>(size));
}

void close_handle(int handle) { _close(handle); }

bool path_exists(const char* path) {
  if (std::strlen(path) > kMaxFileName) return false;
  return _access(path, 0) == 0;
}

bool is_directory(const char* path) {
  DWORD attrs = GetFileAttributesA(path);
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool file_mtime(const char* path, std::int64_t* mtime, std::uintmax_t* size) {
  if (std::strlen(path) > kMaxFileName) return false;
  struct _stat64 st;
  if (_stat64(path, &st) != 0) return false;
  *mtime = static_cast<std::int64_t>(st.st_mtime);
  if (size != nullptr) *size = static_cast<std::uintmax_t>(st.st_size);
  return true;
}

namespace {

bool g_durable = true;

std::string with_separator(const std::string& folder) {
  if (folder.empty()) return std::string();
  const char last = folder.back();
  return last == '\\' || last == '/' || last == ':' ? folder : folder + "\\";
}

// The interpreter's copy leaves its data in the cache; FlushFileBuffers
// writes it out and waits for the device. It wants a handle with write
// access, shared so that nothing else holding the file is disturbed.
HANDLE open_for_flush(const std::string& name) {
  return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool flush_file(const std::string& name) {
  HANDLE h = open_for_flush(name);
  DWORD attrs = INVALID_FILE_ATTRIBUTES;
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    // The copy keeps a read-only attribute, which refuses the write access a
    // flush needs: lifted for the flush, then put back.
    attrs = GetFileAttributesA(name.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) != 0 &&
        SetFileAttributesA(name.c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) != 0) {
      h = open_for_flush(name);
    } else {
      attrs = INVALID_FILE_ATTRIBUTES;
    }
  }
  bool ok = false;
  if (h != INVALID_HANDLE_VALUE) {
    ok = FlushFileBuffers(h) != 0;
    ok = CloseHandle(h) != 0 && ok;
  }
  if (attrs != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(name.c_str(), attrs);
  return ok;
}

// NTFS journals its folder entries itself; a folder handle is flushed where
// the file system allows it, and a refusal is not a failure.
void flush_folder(const std::string& folder) {
  const std::string name = folder.empty() ? std::string(".") : folder;
  HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  FlushFileBuffers(h);
  CloseHandle(h);
}

}  // namespace

void set_durable_writes(bool on) { g_durable = on; }
bool durable_writes() { return g_durable; }

bool sync_files(const std::string& folder, const std::vector<std::string>& names, std::string* error) {
  if (!g_durable) return true;
  const std::string dir = with_separator(folder);
  for (const std::string& name : names) {
    if (!flush_file(dir + name)) {
      if (error != nullptr) *error = name;
      return false;
    }
  }
  flush_folder(folder);
  return true;
}

bool sync_folder(const std::string& folder) {
  if (g_durable) flush_folder(folder);
  return true;
}

namespace {

// The C runtime's number for a system error, so that one text table serves
// every platform.
int errno_of(DWORD error) {
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

}  // namespace

Status write_whole_file(const std::string& path, std::string_view bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return Status::failed(errno_of(GetLastError()), path);
  DWORD error = 0;
  for (std::size_t done = 0; done < bytes.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (WriteFile(h, bytes.data() + done, chunk, &written, nullptr) == 0 || written == 0) {
      error = written == 0 && GetLastError() == 0 ? ERROR_HANDLE_DISK_FULL : GetLastError();
      break;
    }
    done += written;
  }
  if (CloseHandle(h) == 0 && error == 0) error = GetLastError();
  return error == 0 ? Status() : Status::failed(errno_of(error), path);
}

Status sync_one_file(const std::string& path) {
  if (!g_durable || flush_file(path)) return Status();
  return Status::failed(errno_of(GetLastError()), path);
}

Status sync_one_folder(const std::string& folder) {
  if (g_durable) flush_folder(folder);
  return Status();
}

bool file_identity(const std::string& path, FileIdentity* identity) {
  const std::string name = path.empty() ? std::string(".") : path;
  HANDLE h = CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!ok) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

bool create_empty_file(const char* path) {
  std::FILE* f = std::fopen(path, "wt");
  if (f == nullptr) return false;
  return std::fclose(f) == 0;
}

std::string write_problem(const char*) {
  // A folder's read-only attribute does not stop files being made in it;
  // the copy's own message says what went wrong.
  return std::string();
}

std::string read_problem(const char* file) {
  if (_access(file, 4) == 0) return std::string();
  return std::strerror(errno);
}

// What cmd reads specially, and its argument separators (, ; =), which would
// split a path in "copy" and "del"; '*' and '?' are no part of a folder name.
const char kInterpreterSpecials[] = "&|<>^%\"!,;=*?";

ControllerLock::~ControllerLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle_)));
}

namespace {

// An unshared handle on a lock file; the file goes with the handle, which
// goes with the process.
ControllerLock::Outcome lock_file(const std::string& name, long long& handle) {
  HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION ? ControllerLock::Outcome::held
                                            : ControllerLock::Outcome::unavailable;
  }
  handle = static_cast<long long>(reinterpret_cast<intptr_t>(h));
  return ControllerLock::Outcome::taken;
}

}  // namespace

bool controller_at_work(const char* path) {
  // The lock file goes with its controller: one that exists and cannot be
  // opened is held.
  HANDLE h = CreateFileA((std::string(path) + "vorcnt.lock").c_str(), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

ControllerLock::Outcome ControllerLock::take(const char* path) {
  return lock_file(std::string(path) + "vorcnt.lock", handle_);
}

ControllerLock::Outcome ControllerLock::take_session() {
  char dir[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof dir, dir);
  if (n == 0 || n > MAX_PATH) return Outcome::unavailable;
  return lock_file(std::string(dir, n) + "vorcnt-session.lock", handle_);
}

}  // namespace vorcnt
