// POSIX listing of a folder's files with their sizes and times.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <ctime>

#include "folder_marks.h"
#include "vorstat_report.h"

namespace vorcnt::vorstat {

std::vector<FileMark> list_files(const std::string& folder) {
  std::vector<FileMark> marks;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return marks;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    FileMark mark{name};
    if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISDIR(st.st_mode)) continue;
      mark.size = static_cast<std::int64_t>(st.st_size);
      mark.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    marks.push_back(std::move(mark));
  }
  ::closedir(dir);
  std::sort(marks.begin(), marks.end(), [](const FileMark& a, const FileMark& b) { return a.name < b.name; });
  return marks;
}

void pause_ms(int ms) {
  struct timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

bool replace_file_atomically(const std::string& path, const std::string& bytes, std::string& error) {
  // Beside the target, so the rename stays on one file system; a name the
  // textfile collector skips (it reads only "*.prom").
  const std::string temp = path + "." + std::to_string(::getpid()) + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot create " + temp + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<std::size_t>(n);
  }
  if (!ok) error = "cannot write " + temp + ": " + std::strerror(errno);
  if (ok && ::fsync(fd) != 0) {
    error = "cannot sync " + temp + ": " + std::strerror(errno);
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    error = "cannot write " + temp + ": " + std::strerror(errno);
    ok = false;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + temp + " to " + path + ": " + std::strerror(errno);
    ok = false;
  }
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace vorcnt::vorstat
