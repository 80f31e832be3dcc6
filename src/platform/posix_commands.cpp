// The POSIX command layer. The controller's command texts are written for
// the Windows command interpreter: "copy", "del" and "mkdir" go to the
// built-ins (posix_builtins.cpp), and every other line goes to /bin/sh with
// its first word looked up the way the interpreter would look it up.
#include "platform/posix_commands.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/posix_io.h"
#include "platform/stop_posix.h"

extern char** environ;

namespace vorcnt {

namespace {

bool is_program(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The same name with ".exe" taken off when it has it, else with it added.
std::string exe_variant(const std::string& path) {
  constexpr std::size_t kExt = 4;
  if (path.size() > kExt && ::strcasecmp(path.c_str() + path.size() - kExt, ".exe") == 0 &&
      path[path.size() - kExt - 1] != '/')
    return path.substr(0, path.size() - kExt);
  return path + ".exe";
}

std::string shell_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  out += '\'';
  return out;
}

bool g_quiet = false;

int run_shell(const std::string& line) {
  // A stop that came since the last pause ends the run before anything new
  // starts.
  stop_if_asked();
  std::string text = shell_line_for(line);
  char sh[] = "sh";
  char dash_c[] = "-c";
  char* argv[] = {sh, dash_c, text.data(), nullptr};
  // The controller ignores SIGPIPE for its own output's sake; the programs it
  // starts get the usual default, as from any shell. Each command leads a
  // process group of its own, so that a stop can end all of it, and reads
  // nothing: the controller's own input is not for it.
  posix_spawnattr_t attr;
  if (::posix_spawnattr_init(&attr) != 0) return -1;
  sigset_t defaults;
  ::sigemptyset(&defaults);
  ::sigaddset(&defaults, SIGPIPE);
  ::posix_spawnattr_setsigdefault(&attr, &defaults);
  sigset_t none;
  ::sigemptyset(&none);
  ::posix_spawnattr_setsigmask(&attr, &none);
  ::posix_spawnattr_setpgroup(&attr, 0);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  pid_t pid;
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (g_quiet) {
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  }
  const int spawned = ::posix_spawn(&pid, "/bin/sh", &actions, &attr, argv, environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attr);
  if (spawned != 0) return -1;
  if (stop_armed()) return wait_watching_stop(pid);
  int status;
  if (retry_on_eintr([&] { return ::waitpid(pid, &status, 0); }) < 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

void set_commands_quiet(bool on) { g_quiet = on; }
bool commands_quiet() { return g_quiet; }

std::string shell_line_for(const std::string& command_line) {
  std::size_t start = 0;
  while (start < command_line.size() && is_command_blank(command_line[start])) ++start;
  std::size_t end = start;
  while (end < command_line.size() && !is_command_blank(command_line[end])) ++end;
  const std::string word = command_line.substr(start, end - start);
  // A first word the shell would read specially (quotes, variables,
  // assignments, operators) is left to it.
  if (word.empty() || word.find_first_of("\"'$;|&<>()`*?[]{}~=#!") != std::string::npos) return command_line;

  const std::string native = native_path(word.c_str());
  std::string found;
  if (native.find('/') != std::string::npos) {
    for (const std::string& candidate : {native, exe_variant(native)}) {
      if (is_program(candidate)) {
        found = candidate;
        break;
      }
    }
  } else {
    // The current folder comes first, as with the interpreter.
    for (const std::string& candidate : {native, exe_variant(native)}) {
      if (is_program(candidate)) {
        found = "./" + candidate;
        break;
      }
    }
    const char* path_list = std::getenv("PATH");
    std::string_view rest = path_list != nullptr ? path_list : "";
    while (found.empty() && path_list != nullptr) {
      std::size_t colon = rest.find(':');
      std::string dir(rest.substr(0, colon));
      if (dir.empty()) dir = ".";
      for (const std::string& candidate : {native, exe_variant(native)}) {
        std::string full = with_separator(dir) + candidate;
        if (!is_program(full)) continue;
        // The shell's own search finds the very same program (or its
        // built-in of that name), so leave the line to it.
        if (candidate == word) return command_line;
        found = full;
        break;
      }
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  if (found.empty()) {
    // Not found: the shell reports it, under the name with '/' separators.
    if (native == word) return command_line;
    found = native;
  }
  if (found == word) return command_line;
  return command_line.substr(0, start) + shell_quote(found) + command_line.substr(end);
}

int run_posix_command(const std::string& command_line) {
  std::size_t start = 0;
  while (start < command_line.size() && is_command_blank(command_line[start])) ++start;
  std::size_t end = start;
  while (end < command_line.size() && !is_command_blank(command_line[end])) ++end;
  const std::string first = command_line.substr(start, end - start);
  if (!is_builtin(first)) return run_shell(command_line);
  return run_builtin(command_line, first, std::string_view(command_line).substr(end));
}

}  // namespace vorcnt
