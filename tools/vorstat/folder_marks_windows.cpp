// Windows listing of a folder's files with their sizes and times.
#include <windows.h>

#include <algorithm>

#include "folder_marks.h"
#include "platform/language.h"

namespace vorcnt::vorstat {

const char kSeeAlso[] = N_("See README.txt beside vorstat.exe (in Japanese: README-ja.txt).\n");

std::vector<FileMark> list_files(const std::string& folder) {
  std::vector<FileMark> marks;
  WIN32_FIND_DATAA data;
  HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return marks;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    FileMark mark{data.cFileName};
    mark.size = (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    const std::int64_t ticks =
        (static_cast<std::int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    mark.mtime_ns = ticks * 100;
    marks.push_back(std::move(mark));
  } while (::FindNextFileA(find, &data) != 0);
  ::FindClose(find);
  std::sort(marks.begin(), marks.end(), [](const FileMark& a, const FileMark& b) { return a.name < b.name; });
  return marks;
}

int process_id() { return static_cast<int>(::GetCurrentProcessId()); }

}  // namespace vorcnt::vorstat
