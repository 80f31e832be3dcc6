// POSIX backend of the log file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/cp932.h"
#include "platform/files.h"
#include "platform/language.h"
#include "platform/log_file.h"
#include "platform/posix_io.h"

namespace vorcnt {

namespace {

// One converter for the whole run: a double-byte character split between two
// writes is held until its second byte comes.
Cp932ToUtf8& program_text() {
  static Cp932ToUtf8 converter(Cp932ToUtf8::Bad::replace);
  return converter;
}

}  // namespace

LogFile::~LogFile() { close(); }

// O_NOFOLLOW refuses a symbolic link as the last name; the name looked at
// again afterwards must still be the file opened, with no second name (a
// hard link would let the log write into a file made elsewhere).
Status LogFile::open(const std::string& path) {
  close();
  path_ = path;
  const std::string name = native_path(path.c_str());
  UniqueFd fd = open_fd(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0644);
  if (!fd.valid()) return errno == ELOOP ? Status::failed(ELOOP, path, N_("it is a link")) : Status::failed(errno, path);
  struct stat opened, named;
  if (::fstat(fd.get(), &opened) != 0) return Status::failed(errno, path);
  if (!S_ISREG(opened.st_mode)) return Status::failed(EINVAL, path, N_("not a regular file"));
  if (::lstat(name.c_str(), &named) != 0 || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino ||
      opened.st_nlink != 1)
    return Status::failed(EINVAL, path, N_("it is a link"));
  size_ = static_cast<std::uint64_t>(opened.st_size);
  handle_ = fd.release();
  return Status();
}

// One write, as the journal's: the kernel appends it whole.
Status LogFile::append(std::string_view text) {
  const ssize_t n = retry_on_eintr([&] { return ::write(static_cast<int>(handle_), text.data(), text.size()); });
  if (n < 0) return Status::failed(errno, path_);
  if (n != static_cast<ssize_t>(text.size())) return Status::failed(EIO, path_, "short write");
  size_ += text.size();
  return Status();
}

void LogFile::close() { UniqueFd owned(static_cast<int>(std::exchange(handle_, -1))); }

std::string_view LogFile::preamble() { return ""; }

std::string log_text_of_program(std::string_view cp932) {
  if (!program_text().usable()) return std::string(cp932);
  std::string out;
  program_text().convert(cp932, &out);
  return out;
}

// Names and what the user typed are UTF-8 here already.
std::string log_text_of_local(std::string_view local) {
  std::string out;
  if (program_text().usable()) program_text().release(&out);
  out.append(local);
  return out;
}

}  // namespace vorcnt
