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
#include "platform/language.h"
#include "platform/posix_commands.h"
#include "platform/posix_io.h"

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

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

Status last_error(const std::string& subject) { return Status::failed(errno, subject); }

}  // namespace

std::string path_in(const std::string& folder, const std::string& name) {
  std::string out = folder_of(folder);
  if (out.back() != '/') out += '/';
  return out + name;
}

FolderListing list_folder(const std::string& folder) {
  FolderListing listing;
  const std::string name = folder_of(folder);
  const std::string subject = folder.empty() ? std::string(".") : folder;
  const std::unique_ptr<DIR, DirCloser> dir(::opendir(name.c_str()));
  if (!dir) {
    listing.status = last_error(subject);
    return listing;
  }
  for (;;) {
    errno = 0;
    const dirent* e = ::readdir(dir.get());
    if (e == nullptr) {
      if (errno != 0) listing.status = last_error(subject);
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

bool is_foreign_link(const std::string& path) {
  struct stat st;
  return ::lstat(native_path(path.c_str()).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

Presence presence(const std::string& path) {
  struct stat st;
  if (stat_of(path, &st)) return Presence::present;
  return errno == ENOENT || errno == ENOTDIR ? Presence::absent : Presence::unknown;
}

NameLook look_at_name(const std::string& path) {
  NameLook look;
  struct stat st;
  if (::lstat(native_path(path.c_str()).c_str(), &st) != 0) {
    look.presence = errno == ENOENT || errno == ENOTDIR ? Presence::absent : Presence::unknown;
    return look;
  }
  look.presence = Presence::present;
  look.link = S_ISLNK(st.st_mode);
  look.regular = S_ISREG(st.st_mode);
  if (look.regular) look.size = static_cast<std::uintmax_t>(st.st_size);
  return look;
}

Status remove_file(const std::string& path, bool* removed) {
  if (removed != nullptr) *removed = false;
  FolderAndName at;
  // No folder, no file.
  if (!open_folder_of(native_path(path.c_str()), &at)) return errno == ENOENT ? Status() : last_error(path);
  if (const int refused = check_not_link(at.folder.get(), at.name.c_str()); refused != 0)
    return Status::failed(refused, path);
  if (::unlinkat(at.folder.get(), at.name.c_str(), 0) != 0) return errno == ENOENT ? Status() : last_error(path);
  if (removed != nullptr) *removed = true;
  return Status();
}

namespace {

// Removes the name only while it still holds the file made as `ours`: a
// name swapped since is someone else's.
void unlink_own(int folder, const char* name, const struct stat& ours) {
  struct stat named;
  if (::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && ours.st_dev == named.st_dev &&
      ours.st_ino == named.st_ino)
    ::unlinkat(folder, name, 0);
}

}  // namespace

Status copy_new_file(const std::string& from, const std::string& to) {
  UniqueFd in = open_fd(native_path(from.c_str()).c_str(), O_RDONLY);
  if (!in.valid()) return last_error(from);
  struct stat st;
  if (::fstat(in.get(), &st) != 0) return last_error(from);
  if (!S_ISREG(st.st_mode)) return Status::failed(EINVAL, from, N_("not a regular file"));
  FolderAndName at;
  if (!open_folder_of(native_path(to.c_str()), &at)) return last_error(to);
  UniqueFd out = open_in_folder(at.folder.get(), at.name.c_str(), O_WRONLY | O_CREAT | O_EXCL, st.st_mode & 07777);
  if (!out.valid()) return last_error(to);
  struct stat made;
  if (::fstat(out.get(), &made) != 0) return last_error(to);
  char buf[1 << 16];
  Status s;
  for (;;) {
    const ssize_t n = retry_on_eintr([&] { return ::read(in.get(), buf, sizeof buf); });
    if (n < 0) s = last_error(from);
    if (n <= 0) break;
    if (const Status w = write_all(out.get(), buf, static_cast<std::size_t>(n)); !w.ok()) {
      s = Status::failed(w.error(), to);
      break;
    }
  }
  if (const Status closed = out.close(to); s.ok()) s = closed;
  // The name was free before: a part copy under it would pass for the file.
  if (!s.ok()) unlink_own(at.folder.get(), at.name.c_str(), made);
  return s;
}

Status rename_file(const std::string& from, const std::string& to) {
  FolderAndName source, target;
  if (!open_folder_of(native_path(from.c_str()), &source)) return last_error(from);
  if (!open_folder_of(native_path(to.c_str()), &target)) return last_error(to);
  if (const int refused = check_not_link(source.folder.get(), source.name.c_str()); refused != 0)
    return Status::failed(refused, from);
  if (const int refused = check_not_link(target.folder.get(), target.name.c_str()); refused != 0)
    return Status::failed(refused, to);
  if (::renameat(source.folder.get(), source.name.c_str(), target.folder.get(), target.name.c_str()) != 0)
    return last_error(from);
  return Status();
}

Status create_folders(const std::string& path) {
  const std::string name = without_trailing_separator(folder_of(path));
  // Each folder from the top down; one that is there already is no error.
  for (std::size_t cut = name.find('/', 1);; cut = name.find('/', cut + 1)) {
    const std::string part = name.substr(0, cut);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return last_error(part);
    if (cut == std::string::npos) break;
  }
  // The folder itself must be one: files moved into a link would land
  // wherever it points.
  struct stat st;
  if (::lstat(name.c_str(), &st) != 0) return last_error(path);
  if (S_ISLNK(st.st_mode)) return Status::failed(ELOOP, path);
  return S_ISDIR(st.st_mode) ? Status() : Status::failed(ENOTDIR, path);
}

}  // namespace vorcnt
