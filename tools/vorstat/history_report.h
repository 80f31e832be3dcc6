// vorstat --history: what the controller's unit journal (HISTORY in
// vorcnt.cfg) says happened while nobody watched.
#pragma once

#include <cstdint>
#include <string>
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
  std::vector<JournalEvent> events;  // every whole, well-formed line, in order
  int skipped = 0;                   // lines that were not
  std::vector<std::pair<std::string, int>> per_day;  // the last 7 local dates, oldest first
  int last_connection = -1;  // index into events; -1: none
  int units_waiting = 0;      // units the journal saw refilled and not yet computed
  double rate_per_day = 0;    // units computed per day over the last 7 days (0: none)
  double lasts_seconds = -1;  // how long units_waiting lasts at that rate; -1: unknown
};

// Seconds since 1970 of "YYYY-MM-DDTHH:MM:SS+HH:MM"; false when malformed.
bool parse_iso8601(const std::string& text, std::int64_t* utc);
// Reads the journal's text. `now` dates the 7-day figures.
HistorySummary summarize_journal(const std::string& text, const LocalTime& now);
std::string format_history_table(const HistorySummary& h, const std::string& file, std::size_t last_n);
std::string format_history_json(const HistorySummary& h, const std::string& file, std::size_t last_n);

// True when the arguments ask for the history.
bool wants_history(int argc, const char* const* argv);
// vorstat --history [FILE] [-n N] [--json]. Exit status: 0 done, 1 the
// journal cannot be read, 2 bad usage.
int run_history(int argc, const char* const* argv, Console& out, std::string& errors, const LocalTime& now);

}  // namespace vorcnt::vorstat
