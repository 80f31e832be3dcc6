// The one seam between the controller and the operating system.
//
// Everything a test must control goes through here: running a command line,
// pausing, and writing to the console. File probes and the text reader go to
// the real file system (files.h); tests give them scratch folders instead.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vorcnt {

// Runs command lines through the command interpreter (or, on POSIX, through
// the built-in layer that carries out the same texts). Abstract so it can be
// mocked out for tests.
class Shell {
 public:
  virtual ~Shell() = default;
  // Runs `command_line` exactly as given and waits for it to end.
  // Returns its exit status, or -1 when nothing could be started.
  virtual int run(const std::string& command_line) = 0;
};

// Blocking pauses in whole seconds.
class Clock {
 public:
  virtual ~Clock() = default;
  // Pauses `seconds` (0 returns at once). The real clock scales the pause by
  // VORCNT_TIME_SCALE; callers always pass the nominal seconds.
  virtual void sleep_seconds(int seconds) = 0;
};

// The console. Bytes are the program's own CP932 texts.
class Console {
 public:
  virtual ~Console() = default;
  virtual void write(std::string_view bytes) = 0;
  // Writes out anything held back; called before every command and at exit.
  virtual void flush() = 0;
};

// The three parts of the seam, borrowed by every operation. Owned by main().
struct Os {
  Shell& shell;
  Clock& clock;
  Console& console;
};

// The real backends, chosen at build time (os_posix.cpp or os_windows.cpp).
// The shell flushes `console` before it starts each command.
std::unique_ptr<Console> make_real_console();
std::unique_ptr<Shell> make_real_shell(Console& console);
std::unique_ptr<Clock> make_real_clock();

// Runs a command through the seam, with the console flushed first so the
// controller's messages appear before whatever the command prints.
int run_command(Os& os, const std::string& command_line);

}  // namespace vorcnt
