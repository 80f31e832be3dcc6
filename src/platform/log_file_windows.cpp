// Windows backend of the log file. Its lines end in CR LF and a new file
// starts with a UTF-8 mark, as Notepad expects.
#include <windows.h>

#include <cerrno>
#include <string>
#include <utility>

#include "platform/ansi_path_windows.h"
#include "platform/handle_windows.h"
#include "platform/language.h"
#include "platform/log_file.h"

namespace vorcnt {

namespace {

// The system's own number, as the journal's failure line shows it.
Status last_error(const std::string& path) {
  return Status::failed(EIO, path, "error " + std::to_string(static_cast<unsigned long>(GetLastError())));
}

HANDLE handle_of(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// `bytes` in code page `page` as UTF-8; a byte with no form there becomes
// U+FFFD.
std::string utf8_of(UINT page, std::string_view bytes) {
  if (bytes.empty()) return std::string();
  const int count = static_cast<int>(bytes.size());
  const int wide_size = MultiByteToWideChar(page, 0, bytes.data(), count, nullptr, 0);
  if (wide_size <= 0) return std::string(bytes);
  std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
  MultiByteToWideChar(page, 0, bytes.data(), count, wide.data(), wide_size);
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string(bytes);
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, text.data(), size, nullptr, nullptr);
  return text;
}

}  // namespace

LogFile::~LogFile() { close(); }

// FILE_FLAG_OPEN_REPARSE_POINT opens a link or junction itself rather than
// what it names; one found that way is refused, as is a file with a second
// name.
Status LogFile::open(const std::string& path) {
  close();
  path_ = path;
  UniqueHandle h(CreateFileW(wide_path(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.valid()) return last_error(path);
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(h.get(), &info)) return last_error(path);
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks > 1)
    return Status::failed(EINVAL, path, N_("it is a link"));
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || GetFileType(h.get()) != FILE_TYPE_DISK)
    return Status::failed(EINVAL, path, N_("not a regular file"));
  size_ = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  handle_ = reinterpret_cast<std::intptr_t>(h.release());
  return Status();
}

Status LogFile::append(std::string_view text) {
  std::size_t written = 0;
  if (!write_crlf(handle_of(handle_), text, &written)) return last_error(path_);
  size_ += written;
  return Status();
}

void LogFile::close() { UniqueHandle owned(handle_of(std::exchange(handle_, -1))); }

std::string_view LogFile::preamble() { return "\xEF\xBB\xBF"; }

std::string log_text_of_program(std::string_view cp932) { return utf8_of(932, cp932); }
std::string log_text_of_local(std::string_view local) { return utf8_of(CP_ACP, local); }

}  // namespace vorcnt
