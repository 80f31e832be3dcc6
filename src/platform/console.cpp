#include "platform/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/language.h"

namespace vorcnt {

namespace {

constexpr std::size_t kNoTail = static_cast<std::size_t>(-1);

// Where formatting stops: at a '%' followed by a control character (a line
// end, say) or standing at the very end. That '%' and everything after it
// are written as they are, so the progress line's "%f%\n" ends in a literal
// percent sign.
std::size_t literal_tail(const char* format) {
  for (std::size_t i = 0; format[i] != '\0'; ++i) {
    if (format[i] != '%') continue;
    unsigned char next = static_cast<unsigned char>(format[i + 1]);
    if (next == '%') {
      ++i;
      continue;
    }
    if (next < 0x20 || next == 0x7F) return i;
  }
  return kNoTail;
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
// Appends `format` formatted with `args` to `out`, however long it gets.
void append_formatted(std::string* out, const char* format, va_list args) {
  char small[512];
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
    out->append(small, static_cast<std::size_t>(n));
  } else if (n >= 0) {
    std::size_t old = out->size();
    out->resize(old + static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out->data() + old, static_cast<std::size_t>(n) + 1, format, again);
    out->resize(old + static_cast<std::size_t>(n));
  }
  va_end(again);
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// `format` formatted with `args`, with a literal tail as print keeps it.
std::string console_text(const char* format, va_list args) {
  format = tr(format);
  std::string text;
  std::size_t cut = literal_tail(format);
  if (cut == kNoTail) {
    append_formatted(&text, format, args);
  } else {
    std::string head(format, cut);
    append_formatted(&text, head.c_str(), args);
    text.append(format + cut);
  }
  return text;
}

}  // namespace

void vprint(Os& os, const char* format, va_list args) { os.console.write(console_text(format, args)); }

void print(Os& os, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprint(os, format, args);
  va_end(args);
}

void print_showing(Os& os, std::string_view text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprint_showing(os, text, format, args);
  va_end(args);
}

void vprint_showing(Os& os, std::string_view text, const char* format, va_list args) {
  write_showing(os, text, console_text(format, args));
}

void write_showing(Os& os, std::string_view text, std::string_view line) {
  const std::size_t at = line.find(kVerbatim);
  if (at == std::string_view::npos) {
    os.console.write(line);
    return;
  }
  print_verbatim(os, line.substr(0, at), text, line.substr(at + 1));
}

std::string format_text(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text;
  append_formatted(&text, tr(format), args);
  va_end(args);
  return text;
}

void print_verbatim(Os& os, std::string_view before, std::string_view text, std::string_view after) {
  if (!before.empty()) os.console.write(before);
  os.console.write_verbatim(text);
  if (!after.empty()) os.console.write(after);
}

int run_command(Os& os, const std::string& command_line) {
  os.console.flush();
  return os.shell.run(command_line);
}

}  // namespace vorcnt
