// The log's policy, the same on every platform: a time before each line, a
// new file started at the size limit, and a fault said once each way.
#include "platform/language.h"
#include "platform/log_file.h"

#include <cstdio>

#include "platform/console.h"
#include "platform/files.h"

namespace vorcnt {

LogConsole::LogConsole(Console& inner, Clock& clock, std::string path, Texts texts, std::uint64_t limit)
    : inner_(inner), clock_(clock), path_(std::move(path)), texts_(texts), limit_(limit) {}

// A last line without its line end still belongs in the log.
LogConsole::~LogConsole() {
  if (!line_.empty()) log_line(line_);
}

void LogConsole::write(std::string_view bytes) {
  inner_.write(bytes);
  take(log_text_of_program(bytes));
}

void LogConsole::write_verbatim(std::string_view bytes) {
  inner_.write_verbatim(bytes);
  take(log_text_of_local(bytes));
}

void LogConsole::flush() { inner_.flush(); }

void LogConsole::take(std::string_view utf8) {
  for (std::size_t end; (end = utf8.find('\n')) != std::string_view::npos; utf8.remove_prefix(end + 1)) {
    line_.append(utf8.substr(0, end));
    const std::string line = std::move(line_);
    line_.clear();
    log_line(line);
  }
  line_.append(utf8);
}

void LogConsole::log_line(std::string_view utf8_line) {
  const LocalTime t = clock_.local_now();
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d ", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  std::string line = stamp;
  line.append(utf8_line);
  line.push_back('\n');
  const Status written = write_out(line);
  if (written.ok() == !fault_) return;
  fault_ = !written.ok();
  // The fault's line reaches the console only; the line that it has cleared
  // reaches the log as well.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  // The two texts are whole formats of the messages, given by the caller.
  const std::string said = fault_ ? format_text(texts_.failed, kVerbatim, tr(written.reason().c_str()))
                                  : format_text(texts_.resumed, kVerbatim);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  Console& to = fault_ ? inner_ : static_cast<Console&>(*this);
  const std::size_t at = said.find(kVerbatim);
  to.write(std::string_view(said).substr(0, at));
  to.write_verbatim(path_);
  to.write(std::string_view(said).substr(at + 1));
}

// The file is opened for each line, so a log that was moved or deleted
// meanwhile is started again under its name.
Status LogConsole::write_out(const std::string& line) {
  LogFile file;
  Status s = file.open(path_);
  if (s.ok() && file.size() > 0 && file.size() + line.size() > limit_) {
    file.close();
    s = rotate();
    if (s.ok()) s = file.open(path_);
  }
  if (!s.ok()) return s;
  if (file.size() == 0 && !LogFile::preamble().empty()) {
    std::string text(LogFile::preamble());
    text += line;
    return file.append(text);
  }
  return file.append(line);
}

Status LogConsole::rotate() { return rename_file(path_, path_ + ".1"); }

}  // namespace vorcnt
