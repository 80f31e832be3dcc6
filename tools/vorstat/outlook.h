// What lies ahead of the buffer, and who works on it: the units left, how
// long they last at the pace the journal shows, and what the controller says
// it is doing (its status file, vorcnt.status, checked against its lock).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/controller_status.h"
#include "ground/connect_hours.h"
#include "platform/os.h"

namespace vorcnt::vorstat {

// The units of the buffer as it stands, whatever state -fill left them in.
struct BufferCounts {
  int to_compute = 0;  // waiting to compute (Data_Calculation_wait, or parked as Data_Calculation)
  int to_send = 0;     // done, waiting to be sent (Data_Calculation_completion, Data_Sending)
  bool computing = false;   // the client folder holds a unit being computed
  double running_left = 0;  // the part of it still to compute, 0 to 1
  bool moving = false;      // a folder was in transition: a unit is left out until the move settles
};

// Computed units the median needs before it is trusted.
constexpr int kMinComputedUnits = 3;

struct Outlook {
  BufferCounts counts;
  int samples = 0;                 // computed units behind the median (the last 20 at most)
  double unit_seconds = -1;        // their median; -1 when too few
  double seconds_left = -1;        // the work left; -1 unknown
  std::int64_t runs_dry = 0;       // when it runs out (UTC); 0 unknown
  std::int64_t window_opens = 0;   // the next opening of a closed window (UTC); 0: none waits
  bool dry_before_window = false;
  std::int64_t last_connection = 0;  // UTC; 0 unknown
  // The controller.
  bool controller_up = false;
  bool status_file = false;  // it published its state
  PublishedStatus published;
  // Times above in local time, "2026-12-10 14:00", for the reports.
  std::string runs_dry_text, window_opens_text, last_connection_text, started_text, changed_text;
};

// The median of the durations (seconds) of computed units, oldest first: the
// last 20 count. -1 with fewer than kMinComputedUnits.
double median_unit_seconds(const std::vector<double>& durations, int* samples);

// The outlook from the counts and the journal's durations. `now` and
// `window` (the CONNECT setting) place it in time; `clock` gives local time.
// `last_connection` is the journal's (UTC; 0 none).
Outlook make_outlook(const BufferCounts& counts, const std::vector<double>& durations, const ConnectWindow& window,
                     std::int64_t last_connection, Clock& clock, std::int64_t now);
// Adds what the controller published in client folder `path`, and whether
// it still holds the folder's lock.
// `client_progress`: the progress of the unit the client computes now, NaN
// when none computes. The published status line is made again with it.
void read_controller(const std::string& path, double client_progress, Clock& clock, Outlook* outlook);

// "work for about 3d04h; the buffer runs dry about 2026-12-10 14:00", or why
// nothing can be said.
std::string horizon_text(const Outlook& o);
// The English format of `line` when it is one of the controller's status
// lines (status_line()), with its numbers in `numbers`; nullptr otherwise.
const char* status_format_of(std::string_view line, int numbers[3]);
// The controller's status line (vorcnt.status keeps it in English) in the
// user's language: "computing unit3 (45 %)".
std::string status_words(const std::string& line);
// "controller: running (pid 812) since 2026-12-01 09:12, computing unit3 (45 %)".
std::string controller_text(const Outlook& o);
// The lines of the table that say both, and the counts.
std::string outlook_lines(const Outlook& o);

}  // namespace vorcnt::vorstat
