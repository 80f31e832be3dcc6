// Windows listing of a folder's files with their sizes and times.
#include <windows.h>

#include <algorithm>

#include "folder_marks.h"
#include "vorstat_report.h"

namespace vorcnt::vorstat {

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

void pause_ms(int ms) { ::Sleep(static_cast<DWORD>(ms)); }

bool replace_file_atomically(const std::string& path, const std::string& bytes, std::string& error) {
  const std::string temp = path + "." + std::to_string(::GetCurrentProcessId()) + ".tmp";
  HANDLE file = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot create " + temp + " (error " + std::to_string(::GetLastError()) + ")";
    return false;
  }
  DWORD written = 0;
  bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0 &&
            written == bytes.size() && ::FlushFileBuffers(file) != 0;
  if (!ok) error = "cannot write " + temp + " (error " + std::to_string(::GetLastError()) + ")";
  ::CloseHandle(file);
  if (ok && ::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    error = "cannot rename " + temp + " to " + path + " (error " + std::to_string(::GetLastError()) + ")";
    ok = false;
  }
  if (!ok) ::DeleteFileA(temp.c_str());
  return ok;
}

}  // namespace vorcnt::vorstat
