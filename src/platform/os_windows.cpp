// Windows backend of the seam: the real command interpreter, Sleep, and a
// console that writes the program's CP932 bytes unchanged with CR LF line ends.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ansi_path_windows.h"
#include "platform/block_buffer.h"
#include "platform/clock_backend.h"
#include "platform/handle_windows.h"
#include "platform/os.h"
#include "platform/path_text.h"

namespace vorcnt {

namespace {

// Writes everything to `handle`, retrying on short writes. A write that
// failed (a closed pipe, a full disk) drops the rest. No handle at all (no
// console) is nothing to write to, not a failure.
Status write_all(HANDLE handle, const char* data, std::size_t size) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return Status();
  while (size > 0) {
    DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) {
      const DWORD error = GetLastError();
      // A pipe whose reader has gone, told apart for a report's console.
      const bool gone = error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED;
      const int number = gone ? EPIPE : EIO;
      return Status::failed(number, "standard output", "error " + std::to_string(static_cast<unsigned long>(error)));
    }
    data += written;
    size -= written;
  }
  return Status();
}

// As the C runtime's text mode does: every "\n" goes out as CR LF, every other
// byte (double-byte characters included) unchanged.
void append_text_mode(std::string& out, std::string_view bytes) {
  for (char c : bytes) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
}

// A console gets each text at once; a file or pipe gets it in 512-byte
// blocks, written when a block is full, before every command and at exit.
//
// Output is advice: a handle that fails (a reader that went away, a full log
// disk) never ends the run. The failure is said once on stderr, if that
// still works, and the rest is dropped. A report's console (given `failed`)
// says nothing of a reader gone, and has no work to go on with.
class RealConsole final : public Console {
 public:
  RealConsole(const char* program = nullptr, bool* failed = nullptr, DWORD which = STD_OUTPUT_HANDLE)
      : handle_(GetStdHandle(which)), errors_(which == STD_ERROR_HANDLE), program_(program), failed_(failed) {
    DWORD mode = 0;
    console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE && GetConsoleMode(handle_, &mode) != 0;
  }
  ~RealConsole() override { flush(); }

  void write(std::string_view bytes) override {
    if (console_) {
      std::string line;
      append_text_mode(line, bytes);
      emit(line);
      return;
    }
    std::string text;
    append_text_mode(text, bytes);
    blocks_.append(text);
  }

  void flush() override { blocks_.flush(); }

 private:
  void emit(std::string_view bytes) {
    const Status written = write_all(handle_, bytes.data(), bytes.size());
    if (written.ok() || failure_said_ || errors_) return;
    failure_said_ = true;
    if (failed_ != nullptr && written.error() == EPIPE) return;
    if (failed_ != nullptr) *failed_ = true;
    const std::string said = "standard output cannot be written (" + written.reason() + ")";
    const std::string line = failed_ != nullptr ? std::string(program_) + ": " + said + "\r\n"
                                                : said + ": what follows is not shown; the work goes on\r\n";
    // Standard error is the last place to say it: a failure there has nowhere to go.
    (void)write_all(GetStdHandle(STD_ERROR_HANDLE), line.data(), line.size());
  }

  HANDLE handle_;
  bool errors_;  // standard error: a failure there has nowhere to be said
  const char* program_;
  bool* failed_;
  bool console_ = false;
  bool failure_said_ = false;
  BlockBuffer blocks_{[this](std::string_view bytes) { emit(bytes); }};
};

// The stop from outside. The console's handler runs on a thread of its own
// and only sets the event; the pauses and the waits for a command watch it,
// and the stop itself runs in the program's own flow.
HANDLE g_stop_event = nullptr;
Console* g_stop_console = nullptr;
std::string g_stop_note;
Console* g_note_console = nullptr;  // where the note goes, when not g_stop_console

BOOL WINAPI on_console_stop(DWORD kind) {
  // Closing the window, logging off and shutting down end the run as before.
  if (kind != CTRL_C_EVENT && kind != CTRL_BREAK_EVENT) return FALSE;
  SetEvent(g_stop_event);
  return TRUE;
}

bool stop_came() { return g_stop_event != nullptr && WaitForSingleObject(g_stop_event, 0) == WAIT_OBJECT_0; }

// A Ctrl+C is always a stop by hand: the note goes last.
void stop_if_asked() {
  if (!stop_came()) return;
  Console* out = g_note_console != nullptr ? g_note_console : g_stop_console;
  if (!g_stop_note.empty()) out->write(g_stop_note);
  out->flush();
  std::exit(0);
}

}  // namespace

void arm_stop(Console& console) {
  g_stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_stop_event == nullptr) return;
  g_stop_console = &console;
  SetConsoleCtrlHandler(on_console_stop, TRUE);
}

void set_stop_note(std::string line) { g_stop_note = std::move(line); }

void set_stop_console(Console* console) { g_note_console = console; }

// Sleep takes a DWORD and treats 0xFFFFFFFF as "forever", so long pauses go
// in pieces.
void pause_milliseconds(long long ms) {
  constexpr long long kPiece = 0x7FFFFFFF;
  while (ms > 0) {
    long long piece = ms > kPiece ? kPiece : ms;
    stop_if_asked();
    if (g_stop_event != nullptr)
      WaitForSingleObject(g_stop_event, static_cast<DWORD>(piece));
    else
      Sleep(static_cast<DWORD>(piece));
    ms -= piece;
  }
  stop_if_asked();
}

// The zone's rules for that date; the offset is what the conversion moved the
// clock by.
LocalTime zone_local_time(std::int64_t utc) {
  const LocalTime u = civil_time(utc, 0);
  SYSTEMTIME utc_st = {};
  utc_st.wYear = static_cast<WORD>(u.year);
  utc_st.wMonth = static_cast<WORD>(u.month);
  utc_st.wDay = static_cast<WORD>(u.day);
  utc_st.wHour = static_cast<WORD>(u.hour);
  utc_st.wMinute = static_cast<WORD>(u.minute);
  utc_st.wSecond = static_cast<WORD>(u.second);
  SYSTEMTIME local_st = {};
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc_st, &local_st)) return u;
  FILETIME uf, lf;
  if (!SystemTimeToFileTime(&utc_st, &uf) || !SystemTimeToFileTime(&local_st, &lf)) return u;
  ULARGE_INTEGER a, b;
  a.LowPart = uf.dwLowDateTime;
  a.HighPart = uf.dwHighDateTime;
  b.LowPart = lf.dwLowDateTime;
  b.HighPart = lf.dwHighDateTime;
  const long long diff = (static_cast<long long>(b.QuadPart) - static_cast<long long>(a.QuadPart)) / 10000000LL;
  return civil_time(utc, static_cast<std::int32_t>(diff));
}

namespace {

bool is_file(const std::string& path) {
  DWORD attrs = GetFileAttributesW(wide_path(path).c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Compares the first `n` bytes, with 'a'-'z' taken as 'A'-'Z'.
bool same_ignoring_case(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
    char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 'a' + 'A') : b[i];
    if (x != y) return false;
  }
  return true;
}

// The value of COMSPEC, its name matched without regard to case, read from
// the process's own environment block. False when it is not set.
bool find_comspec(std::string* value) {
  char* block = GetEnvironmentStringsA();
  if (block == nullptr) return false;
  bool found = false;
  for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1) {
    // Entries such as "=C:=C:\dir" start with '=' and never name COMSPEC.
    const char* eq = std::strchr(entry + 1, '=');
    if (eq == nullptr || eq - entry != 7) continue;
    if (!same_ignoring_case(entry, "COMSPEC", 7)) continue;
    value->assign(eq + 1);
    found = true;
    break;
  }
  FreeEnvironmentStringsA(block);
  return found;
}

std::string join_folder(std::string folder, const char* name) {
  if (!folder.empty() && !ends_in_separator(folder) && folder.back() != ':') folder.push_back('\\');
  return folder + name;
}

// The interpreter to start: COMSPEC when set (it must exist), else CMD.EXE in
// the current folder, then along PATH. Empty when there is none.
std::string find_interpreter() {
  std::string comspec;
  if (find_comspec(&comspec)) return is_file(comspec) ? comspec : std::string();

  static const char kName[] = "CMD.EXE";
  if (is_file(kName)) return kName;

  DWORD size = GetEnvironmentVariableA("PATH", nullptr, 0);
  if (size == 0) return std::string();
  std::vector<char> path(size);
  DWORD got = GetEnvironmentVariableA("PATH", path.data(), size);
  if (got == 0 || got >= size) return std::string();

  // Entries are separated by ';'; double quotes are not part of a folder name.
  std::string folder;
  for (DWORD i = 0; i <= got; ++i) {
    char c = i < got ? path[i] : ';';
    if (c == '"') continue;
    if (c == ';') {
      if (!folder.empty()) {
        std::string candidate = join_folder(folder, kName);
        if (is_file(candidate)) return candidate;
      }
      folder.clear();
      continue;
    }
    folder.push_back(c);
  }
  return std::string();
}

// The job every command runs in. Its processes end when the controller's last
// handle on it closes, so a controller that is killed mid-move never leaves a
// copy or a delete running that would act on the files a restart has moved.
// The interpreter's own commands (copy, del, mkdir) run inside it; a program
// it starts (the client, the closer, a hook) leaves the job on its own and
// lives on as before: stopping the controller must not stop the client.
// Null when the system gives none; the commands then run as they always did.
HANDLE command_job() {
  static const HANDLE job = [] {
    UniqueHandle h(CreateJobObjectW(nullptr, nullptr));  // not inherited by the commands
    if (!h.valid()) return static_cast<HANDLE>(nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    std::memset(&limits, 0, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    if (!SetInformationJobObject(h.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
      return static_cast<HANDLE>(nullptr);
    return h.release();
  }();
  return job;
}

class RealShell final : public Shell {
 public:
  // Quiet: the interpreter writes its messages to NUL, its input and the
  // rest unchanged.
  void set_quiet(bool on) override {
    if (on && !null_.valid()) {
      SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
      null_ = UniqueHandle(
          CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    }
    quiet_ = on && null_.valid();
  }

  int run(const std::string& command_line) override {
    stop_if_asked();
    std::string interpreter = find_interpreter();
    if (interpreter.empty()) return -1;

    // run_command flushed the console; anything a stream still holds goes
    // out too, before whatever the command prints.
    std::fflush(nullptr);

    // The interpreter is the first token, quoted in case its folder has
    // blanks; the text follows exactly as built, unquoted.
    std::string line = "\"" + interpreter + "\" /c " + command_line;
    std::vector<char> writable(line.begin(), line.end());
    writable.push_back('\0');

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    // The controller's own input is not for the command: it reads NUL.
    if (!nul_in_.valid()) {
      SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
      nul_in_ = UniqueHandle(
          CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    }
    if (quiet_ || nul_in_.valid()) {
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = nul_in_.valid() ? nul_in_.get() : GetStdHandle(STD_INPUT_HANDLE);
      startup.hStdOutput = quiet_ ? null_.get() : GetStdHandle(STD_OUTPUT_HANDLE);
      startup.hStdError = quiet_ ? null_.get() : GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    // Same console, environment, current folder and inheritable handles.
    // Started held, so that it is in the job before it does anything.
    const HANDLE job = command_job();
    if (!CreateProcessA(interpreter.c_str(), writable.data(), nullptr, nullptr, TRUE,
                        job != nullptr ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup, &process)) {
      return -1;
    }
    const UniqueHandle child(process.hProcess);
    const UniqueHandle thread(process.hThread);
    if (job != nullptr) {
      // A controller that is itself in a job that allows no other may not
      // place it: the command still runs.
      AssignProcessToJobObject(job, child.get());
      ResumeThread(thread.get());
    }
    if (g_stop_event != nullptr) {
      HANDLE either[2] = {child.get(), g_stop_event};
      if (WaitForMultipleObjects(2, either, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        // The program had the console's Ctrl+C too; what has not ended after
        // the grace is ended here.
        if (WaitForSingleObject(child.get(), kCommandStopGrace * 1000) != WAIT_OBJECT_0)
          TerminateProcess(child.get(), 1);
        stop_if_asked();
      }
    }
    WaitForSingleObject(child.get(), INFINITE);
    DWORD code = 0;
    return GetExitCodeProcess(child.get(), &code) ? static_cast<int>(code) : -1;
  }

 private:
  UniqueHandle null_;
  UniqueHandle nul_in_;
  bool quiet_ = false;
};

}  // namespace

std::unique_ptr<Console> make_real_console() { return std::make_unique<RealConsole>(); }
std::unique_ptr<Console> make_report_console(const char* program, bool* failed) {
  return std::make_unique<RealConsole>(program, failed);
}
std::unique_ptr<Console> make_error_console() { return std::make_unique<RealConsole>(nullptr, nullptr, STD_ERROR_HANDLE); }
std::unique_ptr<Shell> make_real_shell() { return std::make_unique<RealShell>(); }

bool could_not_start(int status) { return status == -1 || status == 9009; }

}  // namespace vorcnt
