// POSIX listing of a folder's files with their sizes and times.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "folder_marks.h"
#include "platform/language.h"

namespace vorcnt::vorstat {

const char kSeeAlso[] = N_("See vorstat(1).\n");

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

int process_id() { return static_cast<int>(::getpid()); }

}  // namespace vorcnt::vorstat
