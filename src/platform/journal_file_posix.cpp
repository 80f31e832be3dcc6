// POSIX backend of the journal file that the unit history is appended to.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/journal_file.h"

namespace vorcnt {

namespace {

// One write: the kernel appends it whole, so a killed process leaves the line
// either complete or absent.
bool write_once(int fd, std::string_view bytes, std::string* error) {
  ssize_t n;
  do {
    n = ::write(fd, bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(bytes.size())) return true;
  *error = n < 0 ? std::strerror(errno) : "short write";
  return false;
}

}  // namespace

bool append_journal_line(const char* path, std::string_view header, std::string_view line, std::string* error) {
  const std::string name = native_path(path);
  // Read access only to look at the last byte; a file we may only append to
  // is still written.
  int fd = -1;
  for (int access : {O_RDWR, O_WRONLY}) {
    do {
      fd = ::open(name.c_str(), access | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 || errno != EACCES) break;
  }
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  bool ok = true;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    *error = std::strerror(errno);
    ok = false;
  } else if (!S_ISREG(st.st_mode)) {
    *error = "not a regular file";
    ok = false;
  }
  std::string text;
  if (ok && st.st_size == 0) {
    text.assign(header);
  } else if (ok) {
    char last = '\n';
    if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') text.push_back('\n');  // no read access: assume whole
  }
  text.append(line);
  if (ok) ok = write_once(fd, text, error);
  if (ok && ::fsync(fd) != 0) {
    *error = std::strerror(errno);
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    *error = std::strerror(errno);
    ok = false;
  }
  return ok;
}

}  // namespace vorcnt
