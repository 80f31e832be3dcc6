// Text pieces the report's table and JSON share: formatted appends, control
// bytes made visible, durations as a person reads them.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "clientdata/snapshot.h"
#include "platform/console.h"

namespace vorcnt::vorstat {

// Appends printf-formatted text to `out`.
void appendf(std::string& out, const char* format, ...) VORCNT_PRINTF(2, 3);

// Writes pieces as Pieces keeps them (even ones text, odd ones verbatim).
void write_pieces(const std::vector<std::string>& pieces, Console& out);

// Text for the console that has paths in it, kept apart so that only the
// program's own code page 932 text is converted on a terminal. Pieces
// alternate: even ones are code page 932 text, odd ones reach the terminal
// unchanged (a path, what the user typed). As a console it holds what is
// written to it, for later.
class Pieces final : public Console {
 public:
  void write(std::string_view bytes) override;
  void write_verbatim(std::string_view bytes) override;
  void flush() override {}
  // `line`, a line formatted with kVerbatim for each of `shown`, with the
  // next of them wherever kVerbatim stands.
  void showing(std::string_view line, std::initializer_list<std::string_view> shown);
  const std::vector<std::string>& all() const { return pieces_; }
  void write_to(Console& out) const { write_pieces(pieces_, out); }

 private:
  std::vector<std::string> pieces_{std::string()};
};

// Writes `line` to `out` as Pieces::showing does.
void say(Console& out, std::string_view line, std::initializer_list<std::string_view> shown = {});

// Control bytes shown as escapes, so that a path read from vorcnt.cfg with
// its line end still in it is visible as such.
std::string printable(std::string_view text);

// Durations as a person reads them: 45s, 12m05s, 3h07m, 2d04h; "?" when not
// a number.
std::string duration(double seconds);

// A progress a client can report: 0 to 100 percent. A corrupt state file
// gives others (-500 %, infinity), which no report shows as a figure.
bool credible_progress(double percent);

// The extension of the client's files as the snapshot found them.
const char* ext_of(const ClientSnapshot& snap);

}  // namespace vorcnt::vorstat
