// What a settings read has to say, kept as data for its caller to print
// when it may: the controller takes its locks and gives the closer its
// order before a word is printed, and vorstat turns the lines into notes of
// its own.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console.h"
#include "platform/os.h"

namespace vorcnt {

class SettingsNotes : private Console {
 public:
  // A line (or part of one), formatted as print() formats it.
  void say(const char* format, ...) VORCNT_PRINTF(2, 3);
  void vsay(const char* format, va_list args) VORCNT_PRINTF(2, 0);
  // As print_showing: `text` (a path or what the user gave, never CP932)
  // stands where the format's argument is kVerbatim.
  void say_showing(std::string_view text, const char* format, ...) VORCNT_PRINTF(3, 4);
  void vsay_showing(std::string_view text, const char* format, va_list args) VORCNT_PRINTF(3, 0);

  // Writes everything said, in order, exactly as printing it there and then
  // would have.
  void print(Os& os) const;
  // Everything said, as bytes.
  std::string text() const;

 private:
  // Formatting goes through the console's own code, so the bytes are the
  // ones print() would write.
  void write(std::string_view bytes) override;
  void write_verbatim(std::string_view bytes) override;
  void flush() override {}

  struct Piece {
    std::string bytes;
    bool verbatim;
  };
  std::vector<Piece> pieces_;
};

}  // namespace vorcnt
