// vorstat --history: what the controller's unit journal (HISTORY in
// vorcnt.cfg) says happened while nobody watched.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"

namespace vorcnt::vorstat {

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
  int units_waiting = 0;        // units the journal saw refilled and not yet computed
  double rate_per_day = 0;      // units computed per day over the last 7 days (0: none)
  double lasts_seconds = -1;    // how long units_waiting lasts at that rate; -1: unknown
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
std::string format_history_table(const HistorySummary& h, const std::string& file);
std::string format_history_json(const HistorySummary& h, const std::string& file);

// True when the arguments ask for the history.
bool wants_history(int argc, const char* const* argv);
// vorstat --history [FILE] [-n N] [--json]. Exit status: 0 done, 1 the
// journal cannot be read, 2 bad usage.
int run_history(int argc, const char* const* argv, Console& out, std::string& errors, const LocalTime& now);

}  // namespace vorcnt::vorstat
