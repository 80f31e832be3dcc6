// A stop from outside on POSIX. The handlers only note the signal and write
// a byte to a pipe; the pauses and the waits for a command poll that pipe,
// so a signal that comes just before one of them still wakes it, and
// everything else (the console, the child's end, the exit) runs in the
// program's own flow, where it is safe.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/os.h"
#include "platform/posix_io.h"
#include "platform/stop_posix.h"

namespace vorcnt {

namespace {

volatile sig_atomic_t g_stop_signal = 0;
int g_wake[2] = {-1, -1};
Console* g_console = nullptr;
std::string g_note;
Console* g_note_console = nullptr;  // where the note goes, when not g_console

extern "C" void on_signal(int sig) {
  const int saved = errno;
  if (sig != SIGCHLD && g_stop_signal == 0) g_stop_signal = sig;
  const char byte = 0;
  // A full pipe already holds a wake-up.
  if (::write(g_wake[1], &byte, 1) < 0) {
  }
  errno = saved;
}

// Waits until a signal comes or `ms` pass (-1: no limit), then empties the
// pipe.
void wait_for_signal(long long ms) {
  struct pollfd wake = {g_wake[0], POLLIN, 0};
  const int timeout = ms < 0 ? -1 : (ms > INT_MAX ? INT_MAX : static_cast<int>(ms));
  (void)::poll(&wake, 1, timeout);
  char bytes[64];
  while (::read(g_wake[0], bytes, sizeof bytes) > 0) {
  }
}

long long now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A /proc/N/stat entry's state and process group; false when it cannot be
// read (the process has gone) or does not parse.
bool read_proc_stat(const char* path, char* state, long* group) {
  UniqueFd fd = open_fd(path, O_RDONLY);
  if (!fd.valid()) return false;
  char text[512];
  const ssize_t got = retry_on_eintr([&] { return ::read(fd.get(), text, sizeof text - 1); });
  if (got <= 0) return false;
  text[got] = '\0';
  // The name in parentheses may hold anything, ")" included.
  const char* close = std::strrchr(text, ')');
  long parent = 0;
  return close != nullptr && std::sscanf(close + 1, " %c %ld %ld", state, &parent, group) == 3;
}

}  // namespace

bool group_still_running(pid_t group) {
  if (::kill(-group, 0) != 0) return false;
  // Where /proc cannot be read, kill() has the last word.
  char state = 0;
  long own = 0;
  if (!read_proc_stat("/proc/self/stat", &state, &own)) return true;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return true;
  bool running = false;
  while (!running) {
    const dirent* entry = ::readdir(proc);
    if (entry == nullptr) break;
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9' ||
        std::strspn(entry->d_name, "0123456789") != std::strlen(entry->d_name))
      continue;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%.20s/stat", entry->d_name);
    long member_group = 0;
    if (read_proc_stat(path, &state, &member_group) && member_group == group && state != 'Z' && state != 'X')
      running = true;
  }
  ::closedir(proc);
  return running;
}

namespace {

// The command's process group ends: SIGTERM at once, SIGKILL to whatever of
// it is left after the grace. The shell ending first is not enough, since a
// program it started may still run in the group.
void end_command_group(pid_t pid) {
  ::kill(-pid, SIGTERM);
  const long long until = now_ms() + kCommandStopGrace * 1000LL;
  bool reaped = false;
  while (now_ms() < until) {
    int status;
    if (!reaped && ::waitpid(pid, &status, WNOHANG) == pid) reaped = true;
    if (reaped && !group_still_running(pid)) return;
    // What is left of the group after the shell says nothing when it ends.
    wait_for_signal(reaped ? 100 : until - now_ms());
  }
  ::kill(-pid, SIGKILL);
  int status;
  if (!reaped) (void)::waitpid(pid, &status, 0);
}

}  // namespace

void arm_stop(Console& console) {
  if (::pipe(g_wake) != 0) return;  // unarmed: the signals end the run as before
  for (int fd : g_wake) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  g_console = &console;
  struct sigaction action = {};
  action.sa_handler = on_signal;
  ::sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  ::sigaction(SIGCHLD, &action, nullptr);
}

void set_stop_note(std::string line) { g_note = std::move(line); }

void set_stop_console(Console* console) { g_note_console = console; }

bool stop_armed() { return g_console != nullptr; }

void stop_if_asked() {
  if (g_console == nullptr || g_stop_signal == 0) return;
  Console* out = g_note_console != nullptr ? g_note_console : g_console;
  if (g_stop_signal == SIGINT && !g_note.empty()) out->write(g_note);
  out->flush();
  std::exit(0);
}

void pause_watching_stop(long long ms) {
  const long long until = now_ms() + ms;
  for (;;) {
    stop_if_asked();
    const long long left = until - now_ms();
    if (left <= 0) return;
    wait_for_signal(left);
  }
}

int wait_watching_stop(pid_t pid) {
  for (;;) {
    int status;
    const pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid) {
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
      return -1;
    }
    if (got < 0 && errno != EINTR) return -1;
    if (g_stop_signal != 0) {
      end_command_group(pid);
      stop_if_asked();
    }
    wait_for_signal(-1);
  }
}

}  // namespace vorcnt
