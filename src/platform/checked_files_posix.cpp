// Opening, renaming and removing files in folders that others can write,
// without ever acting through a link at the file's own name.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#if defined(__linux__) && __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#define VORCNT_HAS_OPENAT2 1
#endif

#include "platform/posix_io.h"

namespace vorcnt {

namespace {

#if defined(VORCNT_HAS_OPENAT2) && (defined(SYS_openat2) || defined(__NR_openat2))
#ifndef SYS_openat2
#define SYS_openat2 __NR_openat2
#endif
// Cleared when the kernel does not know the call; the plain call with
// O_NOFOLLOW then does the same for one name.
std::atomic<bool> g_have_openat2{true};

// -2 when the call is not there, so the caller falls back.
int open_without_links(int folder, const char* name, int flags, unsigned mode) {
  if (!g_have_openat2.load(std::memory_order_relaxed)) return -2;
  struct open_how how = {};
  how.flags = static_cast<std::uint64_t>(flags);
  how.mode = (flags & O_CREAT) != 0 ? mode : 0;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd = retry_on_eintr([&] { return ::syscall(SYS_openat2, folder, name, &how, sizeof how); });
  if (fd < 0 && errno == ENOSYS) g_have_openat2.store(false, std::memory_order_relaxed);
  // A filter may refuse the call it does not know with EPERM; the plain call
  // then says whether the open itself is refused.
  if (fd < 0 && (errno == ENOSYS || errno == EPERM)) return -2;
  return static_cast<int>(fd);
}
#else
int open_without_links(int, const char*, int, unsigned) { return -2; }
#endif

}  // namespace

bool open_folder_of(const std::string& path, FolderAndName* out) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  out->name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (out->name.empty() || out->name == "." || out->name == "..") {
    errno = EISDIR;
    return false;
  }
  // The folder may be a link; it is opened once, and every name is looked
  // up in what was opened.
  out->folder = open_fd(folder.c_str(), O_RDONLY | O_DIRECTORY);
  return out->folder.valid();
}

UniqueFd open_in_folder(int folder, const char* name, int flags, unsigned mode) {
  const bool truncate = (flags & O_TRUNC) != 0;
  // A fifo at the name must not block the open; the check below refuses it.
  flags = (flags & ~O_TRUNC) | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  int fd = open_without_links(folder, name, flags, mode);
  if (fd == -2)
    fd = retry_on_eintr([&] { return ::openat(folder, name, flags, static_cast<mode_t>(mode)); });
  UniqueFd opened(fd);
  // A file this open made is new, regular and ours alone: O_EXCL with
  // O_NOFOLLOW fails on any name already there, a link included.
  if (!opened.valid() || (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL)) return opened;
  struct stat got, named;
  if (::fstat(fd, &got) != 0 || ::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) != 0) return UniqueFd();
  if (!S_ISREG(got.st_mode)) {
    errno = EINVAL;
    return UniqueFd();
  }
  // Another name of the same file (a hard link) would carry the write
  // outside; so would a name swapped since the open.
  if (got.st_dev != named.st_dev || got.st_ino != named.st_ino || got.st_nlink != 1) {
    errno = ELOOP;
    return UniqueFd();
  }
  if (truncate && ::ftruncate(fd, 0) != 0) return UniqueFd();
  return opened;
}

int check_not_link(int folder, const char* name) {
  struct stat st;
  if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? 0 : errno;
  return S_ISLNK(st.st_mode) ? ELOOP : 0;
}

}  // namespace vorcnt
