// Folder listings and the file moves a move makes itself, on the system's own
// calls. The standard library's file system layer
// would serve as well, but it brings the whole locale and stream runtime into
// a program that sleeps beside the client for months.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/files.h"

namespace vorcnt {

namespace {

std::string folder_of(const std::string& folder) {
  if (folder.empty()) return ".";
  return native_path(folder.c_str());
}

// The folder named without a trailing separator ("unit0/" names no file).
std::string without_trailing_separator(std::string name) {
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  return name;
}

bool stat_of(const std::string& path, struct stat* st) {
  return ::stat(native_path(path.c_str()).c_str(), st) == 0;
}

int retry_open(const char* name, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(name, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

Status last_error(const std::string& subject) { return Status::failed(errno, subject); }

// All of `size` bytes, or false with errno set.
bool write_fully(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string folder_native(const std::string& folder) { return folder_of(folder); }

std::string path_in(const std::string& folder, const std::string& name) {
  std::string out = folder_of(folder);
  if (out.back() != '/') out += '/';
  return out + name;
}

FolderListing list_folder(const std::string& folder) {
  FolderListing listing;
  const std::string name = folder_of(folder);
  const std::unique_ptr<DIR, DirCloser> dir(::opendir(name.c_str()));
  if (!dir) return listing;
  listing.opened = true;
  for (;;) {
    errno = 0;
    const dirent* e = ::readdir(dir.get());
    if (e == nullptr) {
      listing.complete = errno == 0;
      return listing;
    }
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    bool regular = e->d_type == DT_REG;
    // A link, or a file system that does not say: look through it.
    if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
      struct stat st;
      regular = ::fstatat(::dirfd(dir.get()), e->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
    }
    listing.entries.push_back({e->d_name, regular});
  }
}

bool exists_but_not_folder(const std::string& folder) {
  struct stat st;
  return stat_of(without_trailing_separator(folder_of(folder)), &st) && !S_ISDIR(st.st_mode);
}

bool file_size_of(const std::string& path, std::uintmax_t* size) {
  struct stat st;
  if (!stat_of(path, &st) || !S_ISREG(st.st_mode)) return false;
  *size = static_cast<std::uintmax_t>(st.st_size);
  return true;
}

bool is_regular_file(const std::string& path) {
  struct stat st;
  return stat_of(path, &st) && S_ISREG(st.st_mode);
}

Presence presence(const std::string& path) {
  struct stat st;
  if (stat_of(path, &st)) return Presence::present;
  return errno == ENOENT || errno == ENOTDIR ? Presence::absent : Presence::unknown;
}

Status rename_path(const std::string& from, const std::string& to) {
  if (::rename(native_path(from.c_str()).c_str(), native_path(to.c_str()).c_str()) != 0) return last_error(from);
  return Status();
}

Status remove_path(const std::string& path) {
  if (::remove(native_path(path.c_str()).c_str()) != 0 && errno != ENOENT) return last_error(path);
  return Status();
}

Status copy_to_new(const std::string& from, const std::string& to) {
  const std::string target = native_path(to.c_str());
  const int in = retry_open(native_path(from.c_str()).c_str(), O_RDONLY);
  if (in < 0) return last_error(from);
  struct stat st;
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = S_ISREG(st.st_mode) ? errno : EINVAL;
    ::close(in);
    return Status::failed(error, from);
  }
  const int out = retry_open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, st.st_mode & 07777);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    return Status::failed(error, to);
  }
  char buf[1 << 16];
  int error = 0;
  for (;;) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    if (!write_fully(out, buf, static_cast<std::size_t>(n))) {
      error = errno != 0 ? errno : EIO;
      break;
    }
  }
  if (::close(out) != 0 && error == 0) error = errno;
  ::close(in);
  // The name was free before: a part copy under it would pass for the file.
  if (error != 0) ::unlink(target.c_str());
  return error != 0 ? Status::failed(error, to) : Status();
}

Status make_folder_path(const std::string& folder) {
  const std::string name = without_trailing_separator(folder_of(folder));
  // Each folder from the top down; one that is there already is no error.
  for (std::size_t cut = name.find('/', 1);; cut = name.find('/', cut + 1)) {
    const std::string part = name.substr(0, cut);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return last_error(part);
    if (cut == std::string::npos) break;
  }
  struct stat st;
  if (::stat(name.c_str(), &st) != 0) return last_error(folder);
  return S_ISDIR(st.st_mode) ? Status() : Status::failed(ENOTDIR, folder);
}

}  // namespace vorcnt
