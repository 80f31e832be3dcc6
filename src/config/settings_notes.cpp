#include "config/settings_notes.h"

#include "platform/null_os.h"

namespace vorcnt {

void SettingsNotes::write(std::string_view bytes) { pieces_.push_back({std::string(bytes), false}); }
void SettingsNotes::write_verbatim(std::string_view bytes) { pieces_.push_back({std::string(bytes), true}); }

void SettingsNotes::vsay(const char* format, va_list args) {
  NullShell shell;
  NullClock clock;
  Os os{shell, clock, *this};
  vprint(os, format, args);
}

void SettingsNotes::say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsay(format, args);
  va_end(args);
}

void SettingsNotes::say_showing(std::string_view text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsay_showing(text, format, args);
  va_end(args);
}

void SettingsNotes::vsay_showing(std::string_view text, const char* format, va_list args) {
  NullShell shell;
  NullClock clock;
  Os os{shell, clock, *this};
  vprint_showing(os, text, format, args);
}

void SettingsNotes::print(Os& os) const {
  for (const Piece& piece : pieces_) {
    if (piece.verbatim)
      os.console.write_verbatim(piece.bytes);
    else
      os.console.write(piece.bytes);
  }
}

std::string SettingsNotes::text() const {
  std::string all;
  for (const Piece& piece : pieces_) all += piece.bytes;
  return all;
}

}  // namespace vorcnt
