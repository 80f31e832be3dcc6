// The built-in "copy" of the POSIX command layer: each file through a
// temporary in the destination folder, renamed into place once its data is
// on the disk.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/posix_builtins.h"
#include "platform/posix_commands.h"
#include "platform/posix_io.h"

namespace vorcnt {

namespace {

// The errors with which copy_file_range says "not here": plain reads do it.
bool range_copy_unsupported(int error) {
  return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL || error == EBADF ||
         error == EPERM;
}

// Copies the rest of `in` to `out`, in the kernel where it can. A failure
// names `shown`.
Status copy_bytes(int in, int out, off_t expected, const std::string& shown) {
#if defined(__linux__)
  // The size from fstat ends the copy, which saves the call that would only
  // report the end of the file.
  off_t copied = 0;
  while (copied < expected) {
    const ssize_t n = retry_on_eintr([&] {
      return ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(expected - copied), 0);
    });
    if (n <= 0) {
      // Some file systems report 0 or refuse the call; the offsets have moved
      // past what was copied, so plain reads carry on from there.
      if (n < 0 && !range_copy_unsupported(errno)) return Status::failed(errno, shown);
      break;
    }
    copied += n;
  }
  // An empty size may mean a file system that does not report sizes; a read
  // settles it.
  if (expected > 0 && copied >= expected) return Status();
#else
  (void)expected;  // only the kernel copy wants it
#endif
  constexpr std::size_t kBuffer = std::size_t{1} << 18;
  std::unique_ptr<char[]> buffer(new char[kBuffer]);
  for (;;) {
    const ssize_t n = retry_on_eintr([&] { return ::read(in, buffer.get(), kBuffer); });
    if (n == 0) return Status();
    if (n < 0) return Status::failed(errno, shown);
    if (Status s = write_all(out, buffer.get(), static_cast<std::size_t>(n)); !s.ok())
      return Status::failed(s.error(), shown);
  }
}

// True the first time a folder is seen by this process. Temporaries are left
// only by a copy stopped mid-file, and this process removes its own when a
// copy fails, so they come from an earlier run: one sweep of each folder per
// run is enough. A folder is known by its device, inode and birth time, so one
// made anew where an old one was is swept too. Where the birth time is not
// told, every copy sweeps.
bool first_copy_into(int folder) {
#ifdef STATX_BTIME
  struct statx st;
  if (::statx(folder, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &st) != 0 || !(st.stx_mask & STATX_BTIME))
    return true;
  struct Seen {
    unsigned major, minor;
    unsigned long long ino;
    long long sec;
    unsigned nsec;
    bool operator==(const Seen&) const = default;
  };
  static std::vector<Seen> swept;
  const Seen id{st.stx_dev_major, st.stx_dev_minor, st.stx_ino, st.stx_btime.tv_sec, st.stx_btime.tv_nsec};
  for (const Seen& seen : swept)
    if (seen == id) return false;
  // A few dozen folders at most; past that, each new one sweeps every time.
  if (swept.size() < 64) swept.push_back(id);
  return true;
#else
  (void)folder;
  return true;
#endif
}

// A copy stopped mid-file leaves its temporary behind; it never matches
// "*.vwu", but it should not pile up in a unit folder over months. Removes
// those whose copying process is gone; a link under such a name is not ours.
void remove_stale_temps(int folder) {
  if (!first_copy_into(folder)) return;
  constexpr std::string_view kPrefix = ".vorcnt-copy-";
  // Listed through the folder already opened, never through its name again.
  const int listing = ::dup(folder);
  DIR* d = listing >= 0 ? ::fdopendir(listing) : nullptr;
  if (d == nullptr) {
    if (listing >= 0) ::close(listing);
    return;
  }
  while (const struct dirent* entry = ::readdir(d)) {
    std::string_view name(entry->d_name);
    if (name.substr(0, kPrefix.size()) != kPrefix || name.size() < 4 || name.substr(name.size() - 4) != ".tmp")
      continue;
    const long pid = std::strtol(entry->d_name + kPrefix.size(), nullptr, 10);
    if (pid <= 0 || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    struct stat st;
    if (::fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    ::unlinkat(folder, entry->d_name, 0);  // one that stays is tried again by the next copy
  }
  ::closedir(d);
}

// The modification time is kept, and the data reaches the disk before the
// name does: a power cut after the rename must not leave an empty or
// zero-filled file under that name.
Status finish_temp(UniqueFd& out, const struct stat& source, const std::string& shown) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = source.st_mtim;
  if (::futimens(out.get(), times) != 0) return Status::failed(errno, shown);
  if (durable_writes() && retry_on_eintr([&] { return ::fsync(out.get()); }) != 0)
    return Status::failed(errno, shown);
  return out.close(shown);
}

// Copies `from` to `to_name` in the folder `to` (opened once, named
// `to_dir`) through a temporary file in the same folder, renamed into place,
// so an interrupted copy never leaves a partial file under the destination's
// name. `existing` is the destination's status when it is a file that
// exists. A link at the destination's name is refused, never replaced.
Status copy_file(const std::string& from, int to, const std::string& to_dir, const std::string& to_name,
                 const struct stat* existing) {
  static unsigned serial = 0;
  static const pid_t pid = ::getpid();
  const UniqueFd in = open_fd(from.c_str(), O_RDONLY);
  if (!in.valid()) return Status::failed(errno, from);
  struct stat st;
  if (::fstat(in.get(), &st) != 0) return Status::failed(errno, from);
  if (existing != nullptr && existing->st_dev == st.st_dev && existing->st_ino == st.st_ino)
    return refusal(from + " cannot be copied onto itself");
  const std::string target = to_dir + to_name;
  if (const int refused = check_not_link(to, to_name.c_str()); refused != 0) return Status::failed(refused, target);
  std::string temp;
  UniqueFd out;
  // The temporary name never ends in an extension the controller moves.
  for (int attempt = 0; attempt < 100 && !out.valid(); ++attempt) {
    temp = ".vorcnt-copy-" + std::to_string(pid) + "-" + std::to_string(serial++) + ".tmp";
    out = open_in_folder(to, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, st.st_mode & 0777);
    if (!out.valid() && errno != EEXIST) break;
  }
  if (!out.valid()) return Status::failed(errno, target);
  Status s = copy_bytes(in.get(), out.get(), st.st_size, target);
  if (s.ok()) s = finish_temp(out, st, target);
  if (s.ok() && ::renameat(to, temp.c_str(), to, to_name.c_str()) != 0) s = Status::failed(errno, target);
  if (!s.ok()) ::unlinkat(to, temp.c_str(), 0);  // one that stays is swept by a later copy
  return s;
}

// Where the files of a copy go: the folder (with its separator) and, when
// the destination is not a folder, the one file's new name. `existing` is
// set when that file exists.
struct Destination {
  std::string dir, name;
  struct stat st;
  bool existing = false;
};

Status find_destination(const std::vector<std::string>& paths, const Sources& sources, Destination* to) {
  const std::string& source_text = paths[0];
  // With no destination the files come into the current folder.
  const std::string dest = paths.size() == 2 ? native_path(paths[1].c_str()) : std::string();
  const std::string dest_text = paths.size() == 2 ? paths[1] : "the current folder";
  const bool dest_exists = ::stat(folder_or_current(dest), &to->st) == 0;
  if (dest_exists && S_ISDIR(to->st.st_mode)) {
    to->dir = with_separator(dest);
    struct stat source_dir_st;
    if (::stat(folder_or_current(sources.dir), &source_dir_st) == 0 && source_dir_st.st_dev == to->st.st_dev &&
        source_dir_st.st_ino == to->st.st_ino)
      return refusal(source_text + " and " + dest_text + " are the same folder; nothing copied");
    return Status();
  }
  if (sources.names.size() > 1)
    return refusal(std::to_string(sources.names.size()) + " files match " + source_text + " but " + dest_text +
                   " is not a folder; nothing copied");
  split_last(dest, &to->dir, &to->name);
  if (to->name.empty()) return refusal(dest_text + " is not a folder");
  to->existing = dest_exists;
  return Status();
}

}  // namespace

// copy SOURCE [DEST]: SOURCE may hold wildcards in its last component or name
// a folder (all of its files). Into an existing folder each file keeps its
// name; otherwise exactly one file may match and DEST is its new name.
// Several files are never merged into one.
Status copy_command(const std::vector<std::string>& args) {
  const std::vector<std::string> paths = operands(args, {"/Y", "/-Y", "/B", "/V"});
  if (paths.empty() || paths.size() > 2) return refusal("give one source and at most one destination");
  const std::string source = native_path(paths[0].c_str());
  const Sources sources = resolve_sources(source, SourceUse::copy);
  if (sources.names.empty()) return nothing_matches(source, "copied");
  Destination to;
  if (Status s = find_destination(paths, sources, &to); !s.ok()) return s;

  // Opened once: every file of the copy lands in this folder, whatever its
  // name comes to point at meanwhile.
  const UniqueFd folder = open_fd(folder_or_current(to.dir), O_RDONLY | O_DIRECTORY);
  if (!folder.valid()) return Status::failed(errno, folder_or_current(to.dir));
  remove_stale_temps(folder.get());
  int copied = 0;
  for (const std::string& name : sources.names) {
    const Status s = copy_file(sources.dir + name, folder.get(), to.dir, to.name.empty() ? name : to.name,
                               to.existing ? &to.st : nullptr);
    if (!s.ok()) return s;
    ++copied;
  }
  // The renames themselves are entries of the destination folder.
  if (durable_writes() && retry_on_eintr([&] { return ::fsync(folder.get()); }) != 0)
    return Status::failed(errno, folder_or_current(to.dir));
  char line[64];
  const int n = std::snprintf(line, sizeof line, "        %d file(s) copied.\n", copied);
  // The count is what the interpreter says too; the files are copied whether
  // or not anyone reads it.
  if (n > 0 && !commands_quiet()) write_to_stdout(std::string_view(line, static_cast<std::size_t>(n)));
  return Status();
}

}  // namespace vorcnt
