// The built-in "copy", "del" and "mkdir" of the POSIX command layer, carried
// out in-process with the Windows command interpreter's meaning (no shell,
// no process per file). Copy itself is posix_copy.cpp.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/posix_builtins.h"
#include "platform/posix_commands.h"
#include "platform/posix_io.h"

namespace vorcnt {

bool is_command_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string with_separator(const std::string& dir) {
  if (dir.empty() || dir.back() == '/') return dir;
  return dir + '/';
}

Status write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = retry_on_eintr([&] { return ::write(fd, data, size); });
    if (n < 0) return Status::failed(errno, "descriptor " + std::to_string(fd));
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return Status();
}

// Standard error is the last place anything can be said: a failure there has
// nowhere to go, and the work is the same without it. Standard output is
// advice in the same way.
void write_to_stderr(std::string_view text) { (void)write_all(STDERR_FILENO, text.data(), text.size()); }

void write_to_stdout(std::string_view text) { (void)write_all(STDOUT_FILENO, text.data(), text.size()); }

const char* folder_or_current(const std::string& dir) { return dir.empty() ? "." : dir.c_str(); }

Status refusal(std::string text) { return Status::failed(EINVAL, std::string(), std::move(text)); }

std::vector<std::string> operands(const std::vector<std::string>& args, std::initializer_list<const char*> ignored) {
  std::vector<std::string> out;
  for (std::size_t i = 1; i < args.size(); ++i) {
    bool skip = false;
    for (const char* sw : ignored) skip = skip || same_word(args[i], sw);
    if (!skip) out.push_back(args[i]);
  }
  return out;
}

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



bool same_word(const std::string& word, const char* name) { return ::strcasecmp(word.c_str(), name) == 0; }

namespace {

constexpr int kFailed = 1;

// Each failure of a built-in is one line on stderr, as the interpreter's own
// are: the command's name, then the file it concerned and why.
int report(const std::string& command, const std::vector<Status>& failures) {
  if (failures.empty()) return 0;
  if (commands_quiet()) return kFailed;
  std::string lines;
  for (const Status& s : failures) {
    lines += command + ": ";
    if (!s.subject().empty()) lines += s.subject() + ": ";
    lines += s.reason() + "\n";
  }
  write_to_stderr(lines);
  return kFailed;
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

}  // namespace

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

Status nothing_matches(const std::string& operand, const char* not_done) {
  std::string dir, last;
  split_last(operand, &dir, &last);
  struct stat st;
  if (has_wildcard(last) && ::stat(folder_or_current(dir), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::string folder = dir.empty() ? std::string("the current folder") : dir;
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return refusal(folder + " holds no " + last + " file: nothing " + not_done);
  }
  return refusal("no file matches " + operand + ": nothing " + not_done);
}

namespace {

// del PATTERN...: removes the matching files. Folders are never removed, and
// a pattern that names a folder is refused rather than emptying it. Every
// pattern is acted on, whatever failed before it.
std::vector<Status> del_command(const std::vector<std::string>& args) {
  const std::vector<std::string> patterns = operands(args, {"/Q", "/F"});
  if (patterns.empty()) return {refusal("name the files to delete")};
  std::vector<Status> failures;
  for (const std::string& text : patterns) {
    const std::string native = native_path(text.c_str());
    const Sources sources = resolve_sources(native, SourceUse::del);
    if (sources.is_folder) {
      failures.push_back(refusal(text + " is a folder; name the files to delete"));
    } else if (sources.names.empty()) {
      failures.push_back(nothing_matches(native, "deleted"));
    }
    for (const std::string& name : sources.names) {
      const std::string path = sources.dir + name;
      if (::unlink(path.c_str()) != 0) failures.push_back(Status::failed(errno, path));
    }
  }
  return failures;
}

// mkdir DIR...: creates each folder and any missing parents; a folder (or
// file) that already exists is an error, as with the interpreter.
std::vector<Status> mkdir_command(const std::vector<std::string>& args) {
  if (args.size() < 2) return {refusal("name the folder to create")};
  std::vector<Status> failures;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string path = native_path(args[i].c_str());
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
      failures.push_back(refusal(args[i] + " already exists"));
      continue;
    }
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
      if (path[slash - 1] == '/') continue;
      ::mkdir(path.substr(0, slash).c_str(), 0777);  // a parent that failed fails the last one below
    }
    if (::mkdir(path.c_str(), 0777) != 0) failures.push_back(Status::failed(errno, args[i]));
  }
  return failures;
}

}  // namespace

bool is_builtin(const std::string& word) {
  return same_word(word, "copy") || same_word(word, "del") || same_word(word, "mkdir");
}

int run_builtin(const std::string& command_line, const std::string& first, std::string_view rest) {
  if (has_operator(rest)) return report(first, {refusal("redirections and command chains are not supported here")});
  const std::vector<std::string> args = split_arguments(command_line);
  if (same_word(first, "copy")) {
    Status s = copy_command(args);
    return s.ok() ? 0 : report("copy", {std::move(s)});
  }
  if (same_word(first, "del")) return report("del", del_command(args));
  return report("mkdir", mkdir_command(args));
}

}  // namespace vorcnt
