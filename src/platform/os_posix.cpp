// POSIX backend of the seam.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/os.h"
#include "platform/posix_commands.h"
#include "platform/time_scale.h"

namespace vorcnt {

namespace {

// Writes everything, retrying on short writes and EINTR.
void write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

// A terminal gets each text at once; a file or pipe gets it in 512-byte
// blocks, flushed before every command and at exit.
class RealConsole final : public Console {
 public:
  RealConsole() : terminal_(::isatty(STDOUT_FILENO) == 1) {}
  ~RealConsole() override { flush(); }

  void write(std::string_view bytes) override {
    if (terminal_) {
      write_all(STDOUT_FILENO, bytes.data(), bytes.size());
      return;
    }
    buffer_.append(bytes);
    if (buffer_.size() >= kBlock) flush();
  }

  void flush() override {
    if (buffer_.empty()) return;
    write_all(STDOUT_FILENO, buffer_.data(), buffer_.size());
    buffer_.clear();
  }

 private:
  static constexpr std::size_t kBlock = 512;
  bool terminal_;
  std::string buffer_;
};

class RealClock final : public Clock {
 public:
  void sleep_seconds(int seconds) override {
    long long ms = scaled_milliseconds(seconds);
    if (ms <= 0) return;
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(ms / 1000);
    ts.tv_nsec = static_cast<long>((ms % 1000) * 1000000L);
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }
};

class RealShell final : public Shell {
 public:
  explicit RealShell(Console& console) : console_(console) {}
  int run(const std::string& command_line) override {
    console_.flush();
    return run_posix_command(command_line);
  }

 private:
  Console& console_;
};

}  // namespace

std::unique_ptr<Console> make_real_console() { return std::make_unique<RealConsole>(); }
std::unique_ptr<Shell> make_real_shell(Console& console) { return std::make_unique<RealShell>(console); }
std::unique_ptr<Clock> make_real_clock() { return std::make_unique<RealClock>(); }

}  // namespace vorcnt
