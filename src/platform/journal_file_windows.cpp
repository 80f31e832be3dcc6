// Windows backend of the journal file that the unit history is appended to.
// Its lines end in CR LF, as Notepad and every Windows tool expect.
#include <windows.h>

#include <cerrno>
#include <string>

#include "platform/ansi_path_windows.h"
#include "platform/handle_windows.h"
#include "platform/journal_file.h"

namespace vorcnt {

namespace {

// The system's own number, as the journal's failure line has always shown it.
Status last_error(const char* path) {
  return Status::failed(EIO, path, "error " + std::to_string(static_cast<unsigned long>(GetLastError())));
}

HANDLE handle_of(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

JournalFile::~JournalFile() { UniqueHandle owned(handle_of(handle_)); }

Status JournalFile::open(const char* path) {
  path_ = path;
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end;
  // never through a link at the journal's name.
  int error = 0;
  UniqueHandle h = open_not_through_link(wide_path(path), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                                         FILE_SHARE_READ, OPEN_ALWAYS, &error);
  if (!h.valid() && error == ELOOP) return Status::failed(ELOOP, path);
  if (!h.valid()) return last_error(path);
  handle_ = reinterpret_cast<std::intptr_t>(h.release());
  return Status();
}

Status JournalFile::size(std::uint64_t* bytes) {
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(handle_of(handle_), &size)) return last_error(path_);
  *bytes = static_cast<std::uint64_t>(size.QuadPart);
  return Status();
}

bool JournalFile::byte_at(std::uint64_t offset, char* byte) {
  DWORD got = 0;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ReadFile(handle_of(handle_), byte, 1, &got, &at) && got == 1;
}

Status JournalFile::append(std::string_view text) {
  std::size_t written = 0;
  if (!write_crlf(handle_of(handle_), text, &written)) return last_error(path_);
  return Status();
}

Status JournalFile::sync() {
  if (!FlushFileBuffers(handle_of(handle_))) return last_error(path_);
  return Status();
}

Status JournalFile::close() {
  UniqueHandle h(handle_of(handle_));
  handle_ = -1;
  return h.close(path_);
}

}  // namespace vorcnt
