// POSIX backend of the seam.
#include <langinfo.h>
#if VORCNT_HAS_MALLOC_TRIM
#include <malloc.h>
#endif
#include <locale.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/block_buffer.h"
#include "platform/clock_backend.h"
#include "platform/cp932.h"
#include "platform/files.h"
#include "platform/os.h"
#include "platform/posix_commands.h"
#include "platform/posix_io.h"
#include "platform/stop_posix.h"

namespace vorcnt {

namespace {

// True when the locale the user set (LC_ALL, LC_CTYPE, LANG) reads UTF-8.
// Asked through a locale object of its own so that the program's global
// locale, and with it number formatting and byte classification, stays "C".
bool locale_is_utf8() {
  locale_t loc = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (loc != static_cast<locale_t>(0)) {
    const char* codeset = ::nl_langinfo_l(CODESET, loc);
    bool utf8 = codeset != nullptr && (::strcasecmp(codeset, "UTF-8") == 0 || ::strcasecmp(codeset, "UTF8") == 0);
    ::freelocale(loc);
    return utf8;
  }
  // The named locale is not installed; its name still says what the
  // terminal expects.
  const char* name = nullptr;
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    name = std::getenv(var);
    if (name != nullptr && *name != '\0') break;
  }
  if (name == nullptr) return false;
  const char* dot = std::strchr(name, '.');
  if (dot == nullptr) return false;
  std::string codeset(dot + 1, std::strcspn(dot + 1, "@"));
  return ::strcasecmp(codeset.c_str(), "UTF-8") == 0 || ::strcasecmp(codeset.c_str(), "UTF8") == 0;
}

enum class Encoding { automatic, utf8, cp932 };

// The operator's choice of output encoding, VORCNT_ENCODING: "UTF-8" converts
// wherever the output goes (a service's journal wants UTF-8, and there
// standard output is a socket), "CP932" keeps the raw bytes even on a UTF-8
// terminal. Unset, a terminal's locale decides and a file or pipe gets the
// raw bytes, which scripts may rely on.
Encoding chosen_encoding(bool complain = true) {
  const char* value = std::getenv("VORCNT_ENCODING");
  if (value == nullptr || *value == '\0') return Encoding::automatic;
  if (::strcasecmp(value, "UTF-8") == 0 || ::strcasecmp(value, "UTF8") == 0) return Encoding::utf8;
  if (::strcasecmp(value, "CP932") == 0) return Encoding::cp932;
  if (!complain) return Encoding::automatic;
  std::string line = "VORCNT_ENCODING: '";
  line.append(value, ::strnlen(value, 40));
  line += "' is neither UTF-8 nor CP932; the output keeps its usual encoding\n";
  write_to_stderr(line);
  return Encoding::automatic;
}

// A terminal gets each text at once, a file or pipe gets 512-byte blocks,
// with the rest written before every command and at exit. The bytes are
// converted to UTF-8 as chosen_encoding() says.
//
// Output is advice. A reader that went away (`vorcnt | head -1`, a dead log
// reader) or a full log disk must never end the run, least of all between a
// copy and its delete: SIGPIPE is ignored, and a failed write is said once on
// stderr (if that still works) and then dropped. A report's console (given
// `failed`) says nothing of a reader gone, and has no work to go on with.
class RealConsole final : public Console {
 public:
  RealConsole(const char* program = nullptr, bool* failed = nullptr, int fd = STDOUT_FILENO)
      : fd_(fd), terminal_(::isatty(fd) == 1), program_(program), failed_(failed) {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
    // A report's standard error is its second console: a bad value is said
    // once, by the first.
    Encoding chosen = chosen_encoding(fd != STDERR_FILENO);
    bool utf8 = chosen == Encoding::utf8 || (chosen == Encoding::automatic && terminal_ && locale_is_utf8());
    if (utf8) {
      // Asked for explicitly, the output goes where only valid UTF-8 reads
      // well (the journal shows anything else as a blob), so a stray byte
      // becomes U+FFFD there; a terminal shows what it was given.
      auto converter = std::make_unique<Cp932ToUtf8>(chosen == Encoding::utf8 ? Cp932ToUtf8::Bad::replace
                                                                               : Cp932ToUtf8::Bad::pass_raw);
      if (converter->usable()) converter_ = std::move(converter);
    }
  }
  ~RealConsole() override { flush(); }

  void write(std::string_view bytes) override {
    if (converter_ == nullptr) {
      put(bytes);
      return;
    }
    std::string out;
    converter_->convert(bytes, &out);
    put(out);
  }

  void write_verbatim(std::string_view bytes) override {
    if (converter_ == nullptr) {
      put(bytes);
      return;
    }
    std::string out;
    converter_->release(&out);  // a lead byte held from before cannot be completed now
    out.append(bytes);
    put(out);
  }

  void flush() override {
    if (converter_ != nullptr) {
      std::string rest;
      converter_->release(&rest);
      blocks_.append(rest);
    }
    blocks_.flush();
  }

 private:
  void put(std::string_view bytes) {
    if (terminal_)
      emit(bytes);
    else
      blocks_.append(bytes);
  }

  void emit(std::string_view bytes) {
    const Status written = write_all(fd_, bytes.data(), bytes.size());
    if (written.ok() || failure_said_ || fd_ == STDERR_FILENO) return;
    failure_said_ = true;
    if (failed_ == nullptr) {
      write_to_stderr("standard output cannot be written (" + written.reason() +
                      "): what follows is not shown; the work goes on\n");
      return;
    }
    if (written.error() == EPIPE) return;
    *failed_ = true;
    write_to_stderr(std::string(program_) + ": standard output cannot be written (" + written.reason() + ")\n");
  }

  int fd_;
  bool terminal_;
  const char* program_;
  bool* failed_;
  bool failure_said_ = false;
  std::unique_ptr<Cp932ToUtf8> converter_;
  BlockBuffer blocks_{[this](std::string_view bytes) { emit(bytes); }};
};

// The console was flushed by run_command; what stdio holds goes out here.
class RealShell final : public Shell {
 public:
  int run(const std::string& command_line) override {
    std::fflush(nullptr);
    return run_posix_command(command_line);
  }
  void set_quiet(bool on) override { set_commands_quiet(on); }
  // The built-in copy flushes each copy and its folder (durable writes).
  bool copies_reach_disk() const override { return durable_writes(); }
};

}  // namespace

std::unique_ptr<Console> make_real_console() { return std::make_unique<RealConsole>(); }
std::unique_ptr<Console> make_report_console(const char* program, bool* failed) {
  return std::make_unique<RealConsole>(program, failed);
}
std::unique_ptr<Console> make_error_console() { return std::make_unique<RealConsole>(nullptr, nullptr, STDERR_FILENO); }
std::unique_ptr<Shell> make_real_shell() { return std::make_unique<RealShell>(); }

// The time left is carried over each interruption.
// The controller sleeps most of its life: what a copy or a listing borrowed
// from the heap goes back to the system before each pause.
static void give_back_free_memory() {
#if VORCNT_HAS_MALLOC_TRIM
  ::malloc_trim(0);
#endif
}

void pause_milliseconds(long long ms) {
  give_back_free_memory();
  if (stop_armed()) {
    pause_watching_stop(ms);
    return;
  }
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(ms / 1000);
  ts.tv_nsec = static_cast<long>((ms % 1000) * 1000000L);
  // Only EINVAL remains, and the time is made valid above.
  retry_on_eintr([&] { return ::nanosleep(&ts, &ts); });
}

LocalTime zone_local_time(std::int64_t utc) {
  const time_t t = static_cast<time_t>(utc);
  struct tm tm_local;
  if (::localtime_r(&t, &tm_local) == nullptr) return civil_time(utc, 0);
  return civil_time(utc, static_cast<std::int32_t>(tm_local.tm_gmtoff));
}

bool could_not_start(int status) { return status == -1 || status == 126 || status == 127; }

}  // namespace vorcnt
