#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/files.h"

namespace vorcnt {

std::string native_path(const char* path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

bool path_exists(const char* path) {
  if (std::strlen(path) > kMaxFileName) return false;
  return ::access(native_path(path).c_str(), F_OK) == 0;
}

bool is_directory(const char* path) {
  struct stat st;
  if (::stat(native_path(path).c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode);
}

bool file_mtime(const char* path, std::int64_t* mtime) {
  if (std::strlen(path) > kMaxFileName) return false;
  struct stat st;
  if (::stat(native_path(path).c_str(), &st) != 0) return false;
  *mtime = static_cast<std::int64_t>(st.st_mtime);
  return true;
}

bool create_empty_file(const char* path) {
  int fd = ::open(native_path(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  return ::close(fd) == 0;
}

}  // namespace vorcnt
