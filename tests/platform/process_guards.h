// Process-wide state that a test of the real backends changes for a while:
// where stdout and stderr go, environment variables, the current folder.
// Each guard puts things back when it goes away.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace vorcnt::testing {

// Points a file descriptor somewhere else for the life of the object.
class Redirect {
 public:
  // Sends `fd` to `target` (which the caller keeps owning).
  Redirect(int fd, int target) : fd_(fd), saved_(::dup(fd)) {
    std::fflush(nullptr);
    if (saved_ < 0 || ::dup2(target, fd) < 0) throw std::runtime_error("cannot redirect");
  }
  ~Redirect() {
    std::fflush(nullptr);
    ::dup2(saved_, fd_);
    ::close(saved_);
  }
  Redirect(const Redirect&) = delete;
  Redirect& operator=(const Redirect&) = delete;

 private:
  int fd_;
  int saved_;
};

// Everything written to `fd` while it lives, collected in a temporary file.
class Capture {
 public:
  explicit Capture(int fd) : file_(std::tmpfile()), redirect_(fd, fileno_or_throw(file_)) {}
  ~Capture() { std::fclose(file_); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // What has arrived so far.
  std::string text() const {
    std::string out;
    char buf[4096];
    for (off_t at = 0;;) {
      ssize_t n = ::pread(::fileno(file_), buf, sizeof buf, at);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
      at += n;
    }
    return out;
  }

 private:
  static int fileno_or_throw(std::FILE* f) {
    if (f == nullptr) throw std::runtime_error("no temporary file");
    return ::fileno(f);
  }
  std::FILE* file_;
  Redirect redirect_;
};

// Sets (or, with nullopt, removes) an environment variable.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_.c_str(), old_->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Makes `dir` the current folder.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir) {
    char buf[4096];
    if (::getcwd(buf, sizeof buf) == nullptr) throw std::runtime_error("getcwd failed");
    old_ = buf;
    if (::chdir(dir.c_str()) != 0) throw std::runtime_error("chdir failed");
  }
  ~ScopedCwd() {
    // A destructor cannot throw; a failed return shows up in the next test.
    if (::chdir(old_.c_str()) != 0) std::perror("chdir back");
  }
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::string old_;
};

// Runs `body` in a child process that is not root (as nobody, uid 65534,
// when the test runs as root) and returns its result, 0-255; -1 when the
// child could not be made or became no one else. Root may signal and write
// anything, so a refusal that only others meet is seen this way.
inline int as_plain_user(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(255);
    ::_exit(body());
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255) return -1;
  return WEXITSTATUS(status);
}

}  // namespace vorcnt::testing
