// POSIX backend of the simulated world's process and file calls.
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "sim_os.h"

namespace vorcnt::sim {

std::string own_folder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<std::size_t>(n));
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

std::string temp_folder() {
  const char* dir = std::getenv("TMPDIR");
  std::string text = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

int current_pid() { return static_cast<int>(getpid()); }

bool process_alive(int pid) {
  if (pid <= 0) return false;
  // Our own child that has ended is reaped here; otherwise it would linger
  // as a zombie and look alive to kill().
  int status = 0;
  if (waitpid(pid, &status, WNOHANG) == pid) return false;
  if (kill(pid, 0) != 0 && errno != EPERM) return false;
  // A zombie nobody reaps (no init in a container) has ended all the same.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (stat) {
    std::string line;
    std::getline(stat, line);
    std::size_t close = line.rfind(')');
    if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z') return false;
  }
  return true;
}

Detached detach_self(int, char**) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return {DetachRole::failed, 0};
  if (pid > 0) return {DetachRole::parent, static_cast<int>(pid)};
  setsid();
  // The child must not hold the controller's output pipe open, or whoever
  // reads that pipe would wait for the client to end.
  int null_fd = open("/dev/null", O_RDWR);
  if (null_fd >= 0) {
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(null_fd, 2);
    if (null_fd > 2) close(null_fd);
  }
  return {DetachRole::child, current_pid()};
}

bool replace_file(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool move_new(const std::string& from, const std::string& to) {
  // link() refuses an existing target, which rename() would replace.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  unlink(from.c_str());
  return true;
}

}  // namespace vorcnt::sim
