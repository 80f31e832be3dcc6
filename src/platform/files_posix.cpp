// POSIX backend of the file probes and file names.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <locale.h>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "platform/language.h"
#include "platform/path_text.h"
#include "platform/posix_io.h"

namespace vorcnt {

std::string native_path(const char* path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

bool path_lead_byte(unsigned char) { return false; }

// '/' is this system's own separator and '\' is read as one too.
void to_native_separators(char*) {}

const char* error_text(int error) {
  // strerror_l in the "C" locale: plain strerror follows the messages'
  // locale, which the user's language sets.
  static const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c_locale != static_cast<locale_t>(0) ? ::strerror_l(error, c_locale) : std::strerror(error);
}

const char* blank_in_path_fix() {
  return N_("give a path without one, such as a link made with ln -s '/path/with a blank' /path/without");
}

std::filesystem::path fs_path(const std::string& name) { return std::filesystem::path(name); }

std::string fs_name(const std::filesystem::path& path) { return path.string(); }

std::FILE* open_file(const char* name, const char* mode) { return std::fopen(native_path(name).c_str(), mode); }

namespace {

// The probes run several times per poll; a stack copy spares an allocation.
// False when the name is too long to be one of ours.
bool to_native(const char* path, char (&out)[kMaxFileName + 1]) {
  std::size_t i = 0;
  for (; path[i] != '\0'; ++i) {
    if (i == kMaxFileName) return false;
    out[i] = path[i] == '\\' ? '/' : path[i];
  }
  out[i] = '\0';
  return true;
}

}  // namespace

UniqueFd open_fd(const char* name, int flags, unsigned mode) {
  return UniqueFd(retry_on_eintr([&] { return ::open(name, flags | O_CLOEXEC, static_cast<mode_t>(mode)); }));
}

int open_for_reading(const char* path, std::uintmax_t* size) {
  char name[kMaxFileName + 1];
  if (!to_native(path, name)) return -1;
  UniqueFd fd = open_fd(name, O_RDONLY | O_NONBLOCK);
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  *size = static_cast<std::uintmax_t>(st.st_size);
  return fd.release();
}

int open_for_reading(const char* path) {
  std::uintmax_t size;
  return open_for_reading(path, &size);
}

long read_some(int handle, char* buf, std::size_t size) {
  return static_cast<long>(retry_on_eintr([&] { return ::read(handle, buf, size); }));
}

void close_handle(int handle) { ::close(handle); }

bool path_exists(const char* path) {
  char name[kMaxFileName + 1];
  if (!to_native(path, name)) return false;
  return ::access(name, F_OK) == 0;
}

bool is_directory(const char* path) {
  struct stat st;
  if (::stat(native_path(path).c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode);
}

bool name_taken(const char* path) {
  std::string name = native_path(path);
  while (name.size() > 1 && name.back() == '/') name.pop_back();  // "unit0/" would look through a link
  struct stat st;
  return ::lstat(name.c_str(), &st) == 0;
}

bool file_mtime(const char* path, std::int64_t* mtime, std::uintmax_t* size) {
  char name[kMaxFileName + 1];
  if (!to_native(path, name)) return false;
  struct stat st;
  if (::stat(name, &st) != 0) return false;
  *mtime = static_cast<std::int64_t>(st.st_mtime);
  if (size != nullptr) *size = static_cast<std::uintmax_t>(st.st_size);
  return true;
}

namespace {
// Opened to look names up in, never read: no read permission is needed where
// the system offers that.
#ifdef O_PATH
constexpr int kLookOnly = O_PATH;
#else
constexpr int kLookOnly = O_RDONLY;
#endif
}  // namespace

FolderDates::FolderDates(const char* folder) : folder_(folder) {
  char name[kMaxFileName + 1];
  // Not opened: the names are then looked at whole, as file_mtime does.
  if (to_native(folder[0] == '\0' ? "." : folder, name))
    handle_ = retry_on_eintr([&] { return ::open(name, kLookOnly | O_DIRECTORY | O_CLOEXEC); });
}

FolderDates::~FolderDates() {
  if (handle_ >= 0) ::close(handle_);
}

bool FolderDates::file_mtime(const char* file, std::int64_t* mtime, std::uintmax_t* size) {
  char name[kMaxFileName + 1];
  const std::size_t folder_length = std::strlen(folder_);
  if (handle_ < 0 || folder_length + std::strlen(file) > kMaxFileName || !to_native(file, name)) {
    const std::string whole = std::string(folder_) + file;
    return vorcnt::file_mtime(whole.c_str(), mtime, size);
  }
  struct stat st;
  if (::fstatat(handle_, name, &st, 0) != 0) return false;
  *mtime = static_cast<std::int64_t>(st.st_mtime);
  if (size != nullptr) *size = static_cast<std::uintmax_t>(st.st_size);
  return true;
}

namespace {

bool g_durable = true;

std::string folder_name(const std::string& folder) {
  if (folder.empty()) return ".";
  return native_path(folder.c_str());
}

// fsync on a descriptor opened read-only: Linux and the BSDs flush a file's
// data (and a folder's entries) whatever the open mode.
Status fsync_status(const std::string& shown, const std::string& name, int flags) {
  if (!g_durable) return Status();
  UniqueFd fd = open_fd(name.c_str(), O_RDONLY | flags);
  if (!fd.valid()) return Status::failed(errno, shown);
  if (retry_on_eintr([&] { return ::fsync(fd.get()); }) != 0) return Status::failed(errno, shown);
  return fd.close(shown);
}

}  // namespace

void set_durable_writes(bool on) { g_durable = on; }
bool durable_writes() { return g_durable; }

namespace {

Status write_all(UniqueFd fd, const std::string& path, std::string_view bytes) {
  if (!fd.valid()) return Status::failed(errno, path);
  int error = 0;
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = retry_on_eintr([&] { return ::write(fd.get(), bytes.data() + done, bytes.size() - done); });
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (error != 0) return Status::failed(error, path);
  return fd.close(path);
}

}  // namespace

Status write_whole_file(const std::string& path, std::string_view bytes) {
  FolderAndName at;
  if (!open_folder_of(native_path(path.c_str()), &at)) return Status::failed(errno, path);
  return write_all(open_in_folder(at.folder.get(), at.name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), path, bytes);
}

// O_EXCL fails on any name already taken, a dangling link included.
Status write_whole_new_file(const std::string& path, std::string_view bytes) {
  FolderAndName at;
  if (!open_folder_of(native_path(path.c_str()), &at)) return Status::failed(errno, path);
  return write_all(open_in_folder(at.folder.get(), at.name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666), path, bytes);
}

bool is_symbolic_link(const std::string& path) {
  struct stat st;
  return ::lstat(native_path(path.c_str()).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

Status sync_one_file(const std::string& path) { return fsync_status(path, path, O_NOFOLLOW); }

Status sync_one_folder(const std::string& folder) {
  return fsync_status(folder.empty() ? std::string(".") : folder, folder_name(folder), O_DIRECTORY);
}

// Every step is made relative to the folder's descriptor, so that a link
// swapped in for the folder between them cannot send a later step elsewhere.
Status replace_small_file(const std::string& path, std::string_view bytes) {
  const std::string name = native_path(path.c_str());
  const std::size_t slash = name.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : name.substr(0, slash == 0 ? 1 : slash);
  const std::string leaf = slash == std::string::npos ? name : name.substr(slash + 1);
  const std::string temp = leaf + ".new";
  const UniqueFd dir = open_fd(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (!dir.valid()) return Status::failed(errno, path);
  struct stat st;
  if (::fstatat(dir.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode))
    return Status::failed(S_ISLNK(st.st_mode) ? ELOOP : EEXIST, path);
  if (::unlinkat(dir.get(), temp.c_str(), 0) != 0 && errno != ENOENT) return Status::failed(errno, path + ".new");
  UniqueFd fd(retry_on_eintr([&] {
    return ::openat(dir.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  }));
  if (!fd.valid()) return Status::failed(errno, path + ".new");
  const ssize_t n = retry_on_eintr([&] { return ::write(fd.get(), bytes.data(), bytes.size()); });
  Status s = n == static_cast<ssize_t>(bytes.size()) ? fd.close(path) : Status::failed(n < 0 ? errno : EIO, path);
  if (s.ok() && ::renameat(dir.get(), temp.c_str(), dir.get(), leaf.c_str()) != 0) s = Status::failed(errno, path);
  if (!s.ok()) ::unlinkat(dir.get(), temp.c_str(), 0);
  return s;
}

bool file_identity(const std::string& path, FileIdentity* identity) {
  struct stat st;
  if (::stat(path.empty() ? "." : native_path(path.c_str()).c_str(), &st) != 0) return false;
  identity->volume = static_cast<std::uint64_t>(st.st_dev);
  identity->index = static_cast<std::uint64_t>(st.st_ino);
  return true;
}

bool folder_identity(const std::string& path, FileIdentity* identity) {
  struct stat st;
  if (::stat(path.empty() ? "." : native_path(path.c_str()).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  identity->volume = static_cast<std::uint64_t>(st.st_dev);
  identity->index = static_cast<std::uint64_t>(st.st_ino);
  return true;
}

Status check_writable(const char* folder) {
  const std::string name = folder[0] == '\0' ? std::string(".") : native_path(folder);
  if (::access(name.c_str(), W_OK) == 0) return Status();
  return Status::failed(errno, folder);
}

Status check_room(const char* folder, std::uintmax_t bytes) {
  struct statvfs vfs;
  const std::string name = folder[0] == '\0' ? std::string(".") : native_path(folder);
  if (::statvfs(name.c_str(), &vfs) != 0) return Status();
  const std::uintmax_t room = static_cast<std::uintmax_t>(vfs.f_bavail) * vfs.f_frsize;
  return room < bytes ? Status::failed(ENOSPC, folder) : Status();
}

Status check_readable(const char* file) {
  if (::access(native_path(file).c_str(), R_OK) == 0) return Status();
  return Status::failed(errno, file);
}

// What sh reads specially in a word (the blank and control bytes are refused
// apart). A backslash is left out: it separates folders in our names, and
// the command layer quotes a program path it resolves.
const char kInterpreterSpecials[] = ";&|<>()$`'\"*?[]{}~=#!";

ControllerLock::~ControllerLock() { UniqueFd owned(static_cast<int>(handle_)); }

namespace {

ControllerLock::Outcome lock_open_file(UniqueFd fd, long long& handle) {
  if (!fd.valid()) return ControllerLock::Outcome::unavailable;
  int r;
  // A look by vorstat holds the lock for a moment; a controller starting in
  // that moment waits it out rather than take it for another controller.
  for (int tries = 0;; ++tries) {
    r = retry_on_eintr([&] { return ::flock(fd.get(), LOCK_EX | LOCK_NB); });
    if (r == 0 || errno != EWOULDBLOCK || tries == 3) break;
    ::usleep(30000);
  }
  if (r != 0) return errno == EWOULDBLOCK ? ControllerLock::Outcome::held : ControllerLock::Outcome::unavailable;
  handle = fd.release();
  return ControllerLock::Outcome::taken;
}

}  // namespace

int current_process_id() { return static_cast<int>(::getpid()); }

bool controller_at_work(const char* path) {
  const std::string name = path[0] == '\0' ? std::string(".") : native_path(path);
  const UniqueFd fd = open_fd(name.c_str(), O_RDONLY | O_DIRECTORY);
  if (!fd.valid()) return false;
  const int r = retry_on_eintr([&] { return ::flock(fd.get(), LOCK_SH | LOCK_NB); });
  return r != 0 && errno == EWOULDBLOCK;  // the close lets go of the shared lock, if it was had
}

ControllerLock::Outcome ControllerLock::take(const char* path) {
  // The folder itself is locked, so no file is left in it, and two
  // controllers reaching it by different names still meet.
  const std::string name = path[0] == '\0' ? std::string(".") : native_path(path);
  return lock_open_file(open_fd(name.c_str(), O_RDONLY | O_DIRECTORY), handle_);
}

}  // namespace vorcnt
