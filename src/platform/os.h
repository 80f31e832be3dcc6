// The one seam between the controller and the operating system.
//
// Everything a test must control goes through here: running a command line,
// pausing, and writing to the console. File probes and the text reader go to
// the real file system (files.h); tests give them scratch folders instead.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/disk.h"

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
  // While on, what the interpreter and its programs print is dropped: a
  // retry that fails as the one before it did says nothing at all.
  virtual void set_quiet(bool on) { (void)on; }
  // True when the interpreter's copy has each copy's data, and the names it
  // gave them, on the disk by the time it returns: a move need not flush
  // them again. False for an interpreter whose copy leaves that to the
  // system (cmd's).
  virtual bool copies_reach_disk() const { return false; }
};

// A wall-clock instant read as local civil time.
struct LocalTime {
  std::int64_t utc_seconds = 0;     // seconds since 1970, UTC
  std::int32_t offset_seconds = 0;  // local time minus UTC, east positive
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// The civil fields of `utc` shifted by `offset_seconds` (no zone rules).
LocalTime civil_time(std::int64_t utc, std::int32_t offset_seconds);

// Blocking pauses in whole seconds, and the wall clock.
class Clock {
 public:
  virtual ~Clock() = default;
  // Pauses `seconds` (0 returns at once). The real clock scales the pause by
  // VORCNT_TIME_SCALE; callers always pass the nominal seconds.
  virtual void sleep_seconds(int seconds) = 0;
  // The wall clock in seconds since 1970. VORCNT_TIME_SCALE never moves it.
  virtual std::int64_t now_utc();
  // Seconds on the clock the pauses run on: monotonic, from an arbitrary
  // start, and divided by VORCNT_TIME_SCALE, so that a wait measured in it
  // shrinks exactly as the pauses do.
  virtual double pause_clock_seconds();
  // The wall-clock instant at which a pause of `seconds` begun now would end,
  // and the nominal seconds of pause from now until the wall clock reads
  // `utc` (0 once it has passed): both scaled as the pauses are, so that a
  // wait kept in wall-clock time shrinks with them.
  virtual std::int64_t wall_after(std::int64_t seconds);
  virtual std::int64_t pause_until(std::int64_t utc);
  // `utc` in the machine's local time zone. This base reads UTC; the real
  // clocks apply the zone's rules, daylight saving included.
  virtual LocalTime local_time(std::int64_t utc);
  LocalTime local_now() { return local_time(now_utc()); }
};

// The console. Bytes are the program's own CP932 texts, or, through
// write_verbatim, text that was never CP932.
class Console {
 public:
  virtual ~Console() = default;
  virtual void write(std::string_view bytes) = 0;
  // Paths and what the user typed, in the system's own encoding: they reach a
  // terminal unchanged, where the program's CP932 texts may be converted.
  // Everywhere else the bytes are the same as through write().
  virtual void write_verbatim(std::string_view bytes) { write(bytes); }
  // Writes out anything held back; called before every command and at exit.
  virtual void flush() = 0;
};

// The parts of the seam, borrowed by every operation. Owned by main(); the
// disk is the real one unless a test gives another.
struct Os {
  Shell& shell;
  Clock& clock;
  Console& console;
  Disk& disk = real_disk();
};

// The real backends, chosen at build time (os_posix.cpp or os_windows.cpp).
// run_command flushes the console before each command, and the clock does
// before each pause, so that a stop during a long pause loses no line.
std::unique_ptr<Console> make_real_console();
// The console of a program whose output is the whole of its work (vorstat).
// A reader that went away (a closed pipe: `vorstat | head -3`) has read what
// it wanted: that is no failure, and nothing is said. Any other failure to
// write (a full disk) is said once on stderr as "<program>: standard output
// cannot be written (<reason>)", the rest is dropped, and `*failed` is set
// for the exit status.
std::unique_ptr<Console> make_report_console(const char* program, bool* failed);
// Standard error as such a report's console: the same conversion rule for
// its code page 932 text, paths unchanged. A failure to write there has
// nowhere left to be said, and is dropped.
std::unique_ptr<Console> make_error_console();
std::unique_ptr<Shell> make_real_shell();
std::unique_ptr<Clock> make_real_clock(Console& console);

// A stop from outside: SIGTERM or SIGINT (on Windows, Ctrl+C or Ctrl+Break at
// the console). Once armed, such a stop ends the run at its next pause,
// before it starts a program, or while it waits for one; an in-process copy
// or delete is never cut in two. A program still running then gets SIGTERM
// (its whole process group), and SIGKILL kCommandStopGrace seconds later; on
// Windows it has had the console's own Ctrl+C, and its interpreter is ended
// after the same grace. The console is flushed, the stop note (below)
// printed after a stop by hand, and the process exits with status 0.
// Unarmed (the tests, the tools), the signals do what they always did.
inline constexpr int kCommandStopGrace = 5;
void arm_stop(Console& console);
// The line a stop by hand (SIGINT, Ctrl+C) prints last; empty: none. A stop
// by a service manager (SIGTERM) prints none: its own stop has already ended
// the client with the closer.
void set_stop_note(std::string line);
// The console a stop writes its note to and flushes, while `console` lives
// (one that copies to a log, say); nullptr: the one armed.
void set_stop_console(Console* console);

// True for the statuses with which this platform's interpreter says that a
// command could not be started at all (not found, not runnable), and -1.
bool could_not_start(int status);

// Runs a command through the seam, with the console flushed first so the
// controller's messages appear before whatever the command prints.
int run_command(Os& os, const std::string& command_line);

}  // namespace vorcnt
