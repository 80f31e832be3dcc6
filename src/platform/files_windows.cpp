// Windows file probes: the names the controller forms are already native,
// backslashes and all, so they go to the C runtime unchanged.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/files.h"

namespace vorcnt {

std::string native_path(const char* path) { return std::string(path); }

int open_for_reading(const char* path) {
  if (std::strlen(path) > kMaxFileName) return -1;
  return _open(path, _O_RDONLY | _O_BINARY);
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

bool file_mtime(const char* path, std::int64_t* mtime) {
  if (std::strlen(path) > kMaxFileName) return false;
  struct _stat64 st;
  if (_stat64(path, &st) != 0) return false;
  *mtime = static_cast<std::int64_t>(st.st_mtime);
  return true;
}

bool create_empty_file(const char* path) {
  std::FILE* f = std::fopen(path, "wt");
  if (f == nullptr) return false;
  return std::fclose(f) == 0;
}

}  // namespace vorcnt
