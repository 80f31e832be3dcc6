// Windows backend of the journal file that the unit history is appended to.
// Its lines end in CR LF, as Notepad and every Windows tool expect.
#include <windows.h>

#include <string>

#include "platform/ansi_path_windows.h"
#include "platform/journal_file.h"

namespace vorcnt {

namespace {

std::string last_error() { return "error " + std::to_string(static_cast<unsigned long>(GetLastError())); }

void append_crlf(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
}

}  // namespace

bool append_journal_line(const char* path, std::string_view header, std::string_view line, std::string* error) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end.
  HANDLE h = CreateFileW(wide_path(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE, FILE_SHARE_READ,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = last_error();
    return false;
  }
  bool ok = true;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(h, &size)) {
    *error = last_error();
    ok = false;
  }
  std::string text;
  if (ok && size.QuadPart == 0) {
    append_crlf(text, header);
  } else if (ok) {
    char last = '\n';
    DWORD got = 0;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>((size.QuadPart - 1) & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    if (ReadFile(h, &last, 1, &got, &at) && got == 1 && last != '\n') text.append("\r\n");
  }
  append_crlf(text, line);
  if (ok) {
    DWORD written = 0;
    if (!WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written != text.size()) {
      *error = last_error();
      ok = false;
    }
  }
  if (ok && !FlushFileBuffers(h)) {
    *error = last_error();
    ok = false;
  }
  CloseHandle(h);
  return ok;
}

}  // namespace vorcnt
