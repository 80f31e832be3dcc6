// vorstat --history: what the controller's unit journal (HISTORY in
// vorcnt.cfg) says happened while nobody watched.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "outlook.h"
#include "platform/os.h"

namespace vorcnt::vorstat {

struct BufferStatus;

struct JournalEvent {
  std::string time;  // as written: local time with its UTC offset
  std::int64_t utc = 0;
  int unit = -1;  // -1 for "-"
  std::string event, identity, detail;
};

struct HistorySummary {
  std::vector<JournalEvent> events;  // the last whole, well-formed lines asked for, in order
  long long total_events = 0;        // every whole, well-formed line
  long long skipped = 0;             // lines that were not
  std::vector<std::pair<std::string, int>> per_day;  // the last 7 local dates, oldest first
  std::string last_connection;  // its time as written; empty: none
  std::int64_t last_connection_utc = 0;
  int units_waiting = 0;        // units the journal saw refilled and not yet computed
  long long computed_recently = 0;  // units computed in the last 7 days
  double rate_per_day = 0;      // those per day, over the last 7 days or the journal's life (0: none)
  // How long the client computed each of the last computed units, oldest
  // first (at most 20): the wall-clock seconds its "computed" line gives
  // ("wall="), which the controller writes only for a computation it saw
  // from its start. CPU time would overstate it on several cores, and the
  // time from an earlier calc_start would count a stop of the controller.
  std::vector<double> unit_seconds;
};

// The journal's bytes, read at any offset: the file, or text in memory.
class JournalBytes {
 public:
  virtual ~JournalBytes() = default;
  virtual std::uint64_t size() = 0;
  // Up to `n` bytes at `offset`: the number read, 0 past the end, -1 on an
  // error.
  virtual long read_at(std::uint64_t offset, char* buf, std::size_t n) = 0;
};

// Seconds since 1970 of "YYYY-MM-DDTHH:MM:SS+HH:MM"; false when malformed.
bool parse_iso8601(std::string_view text, std::int64_t* utc);
// Reads the journal as it stands when this starts (lines appended meanwhile
// wait for the next look): once forwards for the figures of the whole
// journal, then from its end for the last `last_n` events, both in blocks of
// `block` bytes. Memory holds a few blocks and those events, whatever the
// journal's size. `now` dates the 7-day figures. False when a read failed.
bool summarize_journal(JournalBytes& bytes, std::size_t last_n, const LocalTime& now, HistorySummary* out,
                       std::size_t block = 1 << 16);
// The horizon lines come from `outlook`, worked out from the buffer as it
// stands (or, when its folders cannot be read, from the journal's count).
// The table's pieces: even ones code page 932 text, odd ones the journal's
// name, which reaches the terminal unchanged; format_history_table joins them.
std::vector<std::string> history_pieces(const HistorySummary& h, const Outlook& outlook, const std::string& file);
std::string format_history_table(const HistorySummary& h, const Outlook& outlook, const std::string& file);
std::string format_history_json(const HistorySummary& h, const Outlook& outlook, const std::string& file);

// The figures of the journal file `file`, with no events; false when it
// cannot be read.
bool summarize_journal_file(const std::string& file, const LocalTime& now, HistorySummary* out);
// The outlook of the buffer in `status`, from the journal and the window
// that vorcnt.cfg in the current folder names, and the controller's status
// file in the client folder.
Outlook buffer_outlook(const BufferStatus& status, Clock& clock, std::int64_t now);

// True when the arguments ask for the history.
bool wants_history(int argc, const char* const* argv);
// vorstat --history [FILE] [-n N] [--json]. Exit status: 0 done, 1 the
// journal cannot be read, 2 bad usage.
int run_history(int argc, const char* const* argv, Console& out, Console& errors, Clock& clock, std::int64_t now);

}  // namespace vorcnt::vorstat
