// The log file: every console line copied, with the local time before it, in
// UTF-8. The console itself is unchanged. Opt-in (LOG, -log).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os.h"
#include "platform/status.h"

namespace vorcnt {

// The platform's part: the file opened for one append, never through a link,
// and the texts in UTF-8. Closed when it goes.
class LogFile {
 public:
  LogFile() = default;
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens `path` for appending, creating it. Refused: a link (symbolic or
  // hard; on Windows any reparse point), and anything but a regular file.
  Status open(const std::string& path);
  std::uint64_t size() const { return size_; }
  // One write; line ends as this platform's tools expect them.
  Status append(std::string_view text);
  void close();

  // What a new file starts with: a UTF-8 mark on Windows, where Notepad
  // would otherwise take the file for the ANSI code page; nothing on POSIX.
  static std::string_view preamble();

 private:
  std::intptr_t handle_ = -1;
  std::uint64_t size_ = 0;
  std::string path_;
};

// The program's own texts (CP932) and a path or a user's text (the system's
// encoding) in UTF-8. A byte with no UTF-8 form becomes U+FFFD.
std::string log_text_of_program(std::string_view cp932);
std::string log_text_of_local(std::string_view local);

// A console that writes through to `inner` unchanged and copies each whole
// line to the log. A log that cannot be written costs one line on `inner`
// when the fault begins and one when it clears; the run goes on.
class LogConsole final : public Console {
 public:
  struct Texts {
    const char* failed;   // its %s: the file (kVerbatim), then why
    const char* resumed;  // its %s: the file (kVerbatim)
  };
  // At `limit` bytes the file is renamed to FILE.1, replacing the old one,
  // and started again.
  static constexpr std::uint64_t kDefaultLimit = 10'000'000;

  LogConsole(Console& inner, Clock& clock, std::string path, Texts texts, std::uint64_t limit = kDefaultLimit);
  ~LogConsole() override;

  void write(std::string_view bytes) override;
  void write_verbatim(std::string_view bytes) override;
  void flush() override;

 private:
  void take(std::string_view utf8);
  void log_line(std::string_view utf8_line);
  Status write_out(const std::string& line);
  Status rotate();

  Console& inner_;
  Clock& clock_;
  std::string path_;
  Texts texts_;
  std::uint64_t limit_;
  std::string line_;  // the line being put together, UTF-8
  bool fault_ = false;
};

}  // namespace vorcnt
