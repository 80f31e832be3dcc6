// The built-in "copy", "del" and "mkdir" of the POSIX command layer, carried
// out in-process with the Windows command interpreter's meaning (no shell,
// no process per file).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/posix_commands.h"

namespace vorcnt {

bool is_command_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string with_separator(const std::string& dir) {
  if (dir.empty() || dir.back() == '/') return dir;
  return dir + '/';
}

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool same_word(const std::string& word, const char* name) { return ::strcasecmp(word.c_str(), name) == 0; }

namespace {

constexpr int kFailed = 1;

// The built-ins' own messages, one line each on stderr.
void complain(const char* format, ...) __attribute__((format(printf, 1, 2)));
void complain(const char* format, ...) {
  if (commands_quiet()) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

void complain_errno(const char* command, const std::string& path, int error) {
  complain("%s: %s: %s", command, path.c_str(), std::strerror(error));
}

// Splits a built-in's arguments as the interpreter does: blanks separate,
// double quotes group and are dropped.
std::vector<std::string> split_arguments(std::string_view text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  for (;;) {
    while (i < text.size() && is_command_blank(text[i])) ++i;
    if (i == text.size()) break;
    std::string word;
    bool quoted = false;
    for (; i < text.size() && (quoted || !is_command_blank(text[i])); ++i) {
      if (text[i] == '"')
        quoted = !quoted;
      else
        word += text[i];
    }
    words.push_back(std::move(word));
  }
  return words;
}

// Redirections and command chains are not supported on built-in lines; taking
// ">" or "|" as part of a file name would act on the wrong files.
bool has_operator(std::string_view text) {
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == '<' || c == '>' || c == '|' || c == '&')) return true;
  }
  return false;
}

// Drops the switches that change nothing here (overwrite prompts, binary or
// verified copies, quiet or forced deletes).
std::vector<std::string> operands(const std::vector<std::string>& args, std::initializer_list<const char*> ignored) {
  std::vector<std::string> out;
  for (std::size_t i = 1; i < args.size(); ++i) {
    bool skip = false;
    for (const char* sw : ignored) skip = skip || same_word(args[i], sw);
    if (!skip) out.push_back(args[i]);
  }
  return out;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// '*' matches any run of characters, '?' exactly one, letters in either case
// (so "*.vwu" takes "RESULT.VWU" as the interpreter would). A pattern ending
// in ".*" also matches names without an extension, so "*.*" matches every
// name.
bool wildcard_match(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || lower(*pattern) == lower(*name)) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0' || std::strcmp(pattern, ".*") == 0;
}

bool has_wildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// "a/b/c" -> "a/b/" and "c"; "c" -> "" and "c". The folder part keeps its
// separator so that names can be appended directly.
void split_last(const std::string& path, std::string* dir, std::string* last) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    dir->clear();
    *last = path;
  } else {
    *dir = path.substr(0, slash + 1);
    *last = path.substr(slash + 1);
  }
}

const char* folder_or_current(const std::string& dir) { return dir.empty() ? "." : dir.c_str(); }

enum class Kind { kFile, kFolder, kOther };

// Uses the listing's type when it has one, so a large folder costs no stat
// per entry.
Kind entry_kind(const std::string& dir, const dirent* entry) {
#if defined(DT_REG)
  if (entry->d_type == DT_REG) return Kind::kFile;
  if (entry->d_type == DT_DIR) return Kind::kFolder;
#endif
  struct stat st;
  if (::stat((dir + entry->d_name).c_str(), &st) != 0) return Kind::kOther;  // a dangling link
  if (S_ISREG(st.st_mode)) return Kind::kFile;
  if (S_ISDIR(st.st_mode)) return Kind::kFolder;
  return Kind::kOther;
}

// Names in `dir` that match `pattern`, sorted. Folders never match; other
// non-regular entries only when `regular_only` is false.
std::vector<std::string> list_matches(const std::string& dir, const std::string& pattern, bool regular_only) {
  std::vector<std::string> names;
  DIR* folder = ::opendir(folder_or_current(dir));
  if (folder == nullptr) return names;
  while (const dirent* entry = ::readdir(folder)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (!wildcard_match(pattern.c_str(), name)) continue;
    Kind kind = entry_kind(dir, entry);
    if (kind == Kind::kFolder || (regular_only && kind != Kind::kFile)) continue;
    names.emplace_back(name);
  }
  ::closedir(folder);
  std::sort(names.begin(), names.end());
  return names;
}

// What a source operand of copy or del names: the folder its files are in
// (with its separator, or "" for the current one) and their names, sorted.
// A wildcard in the last component takes the matches; copy takes regular
// files only, del any entry but a folder. A plain name is looked up: copy
// follows a link and takes a folder as all of its files; del looks at the
// entry itself (a link goes, never its target) and leaves `names` empty for
// a folder, saying so in `is_folder`.
enum class SourceUse { copy, del };
struct Sources {
  std::string dir;
  std::vector<std::string> names;
  bool is_folder = false;
};

Sources resolve_sources(const std::string& operand, SourceUse use) {
  const bool copy = use == SourceUse::copy;
  Sources found;
  std::string last;
  split_last(operand, &found.dir, &last);
  if (has_wildcard(last)) {
    found.names = list_matches(found.dir, last, copy);
    return found;
  }
  struct stat st;
  if ((copy ? ::stat(operand.c_str(), &st) : ::lstat(folder_or_current(operand), &st)) != 0) return found;
  if (S_ISDIR(st.st_mode)) {
    found.is_folder = true;
    if (copy) {
      found.dir = with_separator(operand);
      found.names = list_matches(found.dir, "*", true);
    }
  } else if (!copy || S_ISREG(st.st_mode)) {
    found.names.push_back(last);
  }
  return found;
}

// Copies the rest of `in` to `out`, in the kernel where it can.
bool copy_bytes(int in, int out, off_t expected) {
#if defined(__linux__)
  // The size from fstat ends the copy, which saves the call that would only
  // report the end of the file.
  off_t copied = 0;
  while (copied < expected) {
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(expected - copied), 0);
    if (n > 0) {
      copied += n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // Some file systems report 0 or refuse the call; the offsets have moved
    // past what was copied, so plain reads carry on from there.
    if (n < 0 && errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL && errno != EBADF &&
        errno != EPERM)
      return false;
    break;
  }
  // An empty size may mean a file system that does not report sizes; a read
  // settles it.
  if (expected > 0 && copied >= expected) return true;
#else
  (void)expected;
#endif
  constexpr std::size_t kBuffer = std::size_t{1} << 18;
  std::unique_ptr<char[]> buffer(new char[kBuffer]);
  for (;;) {
    ssize_t n = ::read(in, buffer.get(), kBuffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (!write_all(out, buffer.get(), static_cast<std::size_t>(n))) return false;
  }
}

// A copy stopped mid-file leaves its temporary behind; it never matches
// "*.vwu", but it should not pile up in a unit folder over months. Removes
// those whose copying process is gone.
void remove_stale_temps(const std::string& dir) {
  constexpr std::string_view kPrefix = ".vorcnt-copy-";
  DIR* d = ::opendir(folder_or_current(dir));
  if (d == nullptr) return;
  while (const struct dirent* entry = ::readdir(d)) {
    std::string_view name(entry->d_name);
    if (name.substr(0, kPrefix.size()) != kPrefix || name.size() < 4 || name.substr(name.size() - 4) != ".tmp")
      continue;
    const long pid = std::strtol(entry->d_name + kPrefix.size(), nullptr, 10);
    if (pid <= 0 || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    ::unlink((dir + entry->d_name).c_str());
  }
  ::closedir(d);
}

// Copies `from` to `to_dir` + `to_name` through a temporary file in the same
// folder, renamed into place, so an interrupted copy never leaves a partial
// file under the destination's name. The modification time is kept.
// `existing` is the destination's status when it is a file that exists.
bool copy_file(const std::string& from, const std::string& to_dir, const std::string& to_name,
               const struct stat* existing) {
  static unsigned serial = 0;
  static const pid_t pid = ::getpid();
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    complain_errno("copy", from, errno);
    return false;
  }
  struct stat st;
  if (::fstat(in, &st) != 0) {
    complain_errno("copy", from, errno);
    ::close(in);
    return false;
  }
  if (existing != nullptr && existing->st_dev == st.st_dev && existing->st_ino == st.st_ino) {
    complain("copy: %s cannot be copied onto itself", from.c_str());
    ::close(in);
    return false;
  }
  std::string temp;
  int out = -1;
  // The temporary name never ends in an extension the controller moves.
  for (int attempt = 0; attempt < 100 && out < 0; ++attempt) {
    temp = to_dir + ".vorcnt-copy-" + std::to_string(pid) + "-" + std::to_string(serial++) + ".tmp";
    out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
    if (out < 0 && errno != EEXIST) break;
  }
  if (out < 0) {
    complain_errno("copy", to_dir + to_name, errno);
    ::close(in);
    return false;
  }
  bool ok = copy_bytes(in, out, st.st_size);
  int error = errno;
  if (ok) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = st.st_mtim;
    ok = ::futimens(out, times) == 0;
    error = errno;
  }
  // The data reaches the disk before the name does: a power cut after the
  // rename must not leave an empty or zero-filled file under that name.
  if (ok && durable_writes()) {
    int rc;
    do {
      rc = ::fsync(out);
    } while (rc != 0 && errno == EINTR);
    ok = rc == 0;
    error = errno;
  }
  if (::close(out) != 0 && ok) {
    ok = false;
    error = errno;
  }
  ::close(in);
  std::string target = to_dir + to_name;
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    complain_errno("copy", target, error);
  }
  return ok;
}

// copy SOURCE [DEST]: SOURCE may hold wildcards in its last component or name
// a folder (all of its files). Into an existing folder each file keeps its
// name; otherwise exactly one file may match and DEST is its new name.
// Several files are never merged into one.
int copy_command(const std::vector<std::string>& args) {
  std::vector<std::string> paths = operands(args, {"/Y", "/-Y", "/B", "/V"});
  if (paths.empty() || paths.size() > 2) {
    complain("copy: give one source and at most one destination");
    return kFailed;
  }
  const std::string source = native_path(paths[0].c_str());
  // With no destination the files come into the current folder.
  const std::string dest = paths.size() == 2 ? native_path(paths[1].c_str()) : std::string();
  const char* dest_text = paths.size() == 2 ? paths[1].c_str() : "the current folder";

  const Sources sources = resolve_sources(source, SourceUse::copy);
  const std::string& source_dir = sources.dir;
  const std::vector<std::string>& names = sources.names;
  if (names.empty()) {
    complain("copy: no file matches %s", paths[0].c_str());
    return kFailed;
  }

  struct stat dest_st;
  const bool dest_exists = ::stat(folder_or_current(dest), &dest_st) == 0;
  std::string to_dir, to_name;
  const struct stat* existing = nullptr;
  if (dest_exists && S_ISDIR(dest_st.st_mode)) {
    to_dir = with_separator(dest);
    struct stat source_dir_st;
    if (::stat(folder_or_current(source_dir), &source_dir_st) == 0 && source_dir_st.st_dev == dest_st.st_dev &&
        source_dir_st.st_ino == dest_st.st_ino) {
      complain("copy: %s and %s are the same folder; nothing copied", paths[0].c_str(), dest_text);
      return kFailed;
    }
  } else {
    if (names.size() > 1) {
      complain("copy: %zu files match %s but %s is not a folder; nothing copied", names.size(), paths[0].c_str(),
               dest_text);
      return kFailed;
    }
    split_last(dest, &to_dir, &to_name);
    if (to_name.empty()) {
      complain("copy: %s is not a folder", dest_text);
      return kFailed;
    }
    if (dest_exists) existing = &dest_st;
  }

  remove_stale_temps(to_dir);
  int copied = 0;
  for (const std::string& name : names) {
    if (!copy_file(source_dir + name, to_dir, to_name.empty() ? name : to_name, existing)) return kFailed;
    ++copied;
  }
  // The renames themselves are entries of the destination folder.
  if (durable_writes() && !sync_folder(folder_or_current(to_dir))) {
    complain_errno("copy", folder_or_current(to_dir), errno);
    return kFailed;
  }
  char line[64];
  int n = std::snprintf(line, sizeof line, "        %d file(s) copied.\n", copied);
  if (n > 0 && !commands_quiet()) write_all(STDOUT_FILENO, line, static_cast<std::size_t>(n));
  return 0;
}

// del PATTERN...: removes the matching files. Folders are never removed, and
// a pattern that names a folder is refused rather than emptying it.
int del_command(const std::vector<std::string>& args) {
  std::vector<std::string> patterns = operands(args, {"/Q", "/F"});
  if (patterns.empty()) {
    complain("del: name the files to delete");
    return kFailed;
  }
  int status = 0;
  for (const std::string& text : patterns) {
    const Sources sources = resolve_sources(native_path(text.c_str()), SourceUse::del);
    if (sources.is_folder) {
      complain("del: %s is a folder; name the files to delete", text.c_str());
      status = kFailed;
      continue;
    }
    const std::vector<std::string>& names = sources.names;
    if (names.empty()) {
      complain("del: no file matches %s", text.c_str());
      status = kFailed;
      continue;
    }
    for (const std::string& name : names) {
      std::string path = sources.dir + name;
      if (::unlink(path.c_str()) != 0) {
        complain_errno("del", path, errno);
        status = kFailed;
      }
    }
  }
  return status;
}

// mkdir DIR...: creates each folder and any missing parents; a folder (or
// file) that already exists is an error, as with the interpreter.
int mkdir_command(const std::vector<std::string>& args) {
  if (args.size() < 2) {
    complain("mkdir: name the folder to create");
    return kFailed;
  }
  int status = 0;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string path = native_path(args[i].c_str());
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
      complain("mkdir: %s already exists", args[i].c_str());
      status = kFailed;
      continue;
    }
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
      if (path[slash - 1] == '/') continue;
      ::mkdir(path.substr(0, slash).c_str(), 0777);  // an existing parent is fine
    }
    if (::mkdir(path.c_str(), 0777) != 0) {
      complain_errno("mkdir", args[i], errno);
      status = kFailed;
    }
  }
  return status;
}

}  // namespace

bool is_builtin(const std::string& word) {
  return same_word(word, "copy") || same_word(word, "del") || same_word(word, "mkdir");
}

int run_builtin(const std::string& command_line, const std::string& first, std::string_view rest) {
  if (has_operator(rest)) {
    complain("%s: redirections and command chains are not supported here", first.c_str());
    return kFailed;
  }
  std::vector<std::string> args = split_arguments(command_line);
  if (same_word(first, "copy")) return copy_command(args);
  if (same_word(first, "del")) return del_command(args);
  return mkdir_command(args);
}

}  // namespace vorcnt
