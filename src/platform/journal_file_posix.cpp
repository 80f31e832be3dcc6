// POSIX backend of the journal file that the unit history is appended to.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/files.h"
#include "platform/journal_file.h"
#include "platform/language.h"
#include "platform/posix_io.h"

namespace vorcnt {

JournalFile::~JournalFile() { UniqueFd owned(static_cast<int>(handle_)); }

Status JournalFile::open(const char* path) {
  path_ = path;
  // Never appended to through a link at its name: the file is checked
  // to be the one the name holds.
  FolderAndName at;
  if (!open_folder_of(native_path(path), &at)) return Status::failed(errno, path);
  // Read access only to look at the last byte; a file we may only append to
  // is still written.
  UniqueFd fd;
  for (int access : {O_RDWR, O_WRONLY}) {
    fd = open_in_folder(at.folder.get(), at.name.c_str(), access | O_APPEND | O_CREAT, 0644);
    if (fd.valid() || errno != EACCES) break;
  }
  if (!fd.valid() && errno == EINVAL) return Status::failed(EINVAL, path, N_("not a regular file"));
  if (!fd.valid()) return Status::failed(errno, path);
  handle_ = fd.release();
  return Status();
}

Status JournalFile::size(std::uint64_t* bytes) {
  struct stat st;
  if (::fstat(static_cast<int>(handle_), &st) != 0) return Status::failed(errno, path_);
  *bytes = static_cast<std::uint64_t>(st.st_size);
  return Status();
}

bool JournalFile::byte_at(std::uint64_t offset, char* byte) {
  return ::pread(static_cast<int>(handle_), byte, 1, static_cast<off_t>(offset)) == 1;
}

// One write: the kernel appends it whole, so a killed process leaves the line
// either complete or absent.
Status JournalFile::append(std::string_view text) {
  const ssize_t n = retry_on_eintr([&] { return ::write(static_cast<int>(handle_), text.data(), text.size()); });
  if (n == static_cast<ssize_t>(text.size())) return Status();
  return n < 0 ? Status::failed(errno, path_) : Status::failed(EIO, path_, "short write");
}

Status JournalFile::sync() {
  if (retry_on_eintr([&] { return ::fsync(static_cast<int>(handle_)); }) != 0) return Status::failed(errno, path_);
  return Status();
}

Status JournalFile::close() {
  UniqueFd fd(static_cast<int>(handle_));
  handle_ = -1;
  return fd.close(path_);
}

}  // namespace vorcnt
