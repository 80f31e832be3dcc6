// vorstat: a read-only report of the client folder and its unit folders, as
// the controller would classify them. It reads with the controller's own
// client-data readers and never creates, changes or moves a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "clientdata/report.h"
#include "clientdata/snapshot.h"
#include "outlook.h"
#include "platform/os.h"

namespace vorcnt::vorstat {

// One folder as the controller sees it.
struct FolderStatus {
  int unit = -1;       // -1 for the client folder itself
  std::string folder;  // the folder text given to the readers (ends in '\')
  ClientSnapshot snap;
  ClientReport report;
  bool work_unit_dated = false;    // the work-unit file exists and has a time
  std::int64_t work_unit_age = 0;  // seconds, now - its modification time; 0 when ahead
  bool work_unit_ahead = false;    // its time is ahead of the clock
  bool user_info_file = false;     // the user-info file exists
  // How long none of the client's files has changed: now - the newest of
  // their modification times. A client that died or hangs leaves it growing.
  bool files_dated = false;        // at least one of them is there
  std::int64_t files_unchanged = 0;  // 0 when the newest time is ahead of the clock
  bool files_ahead = false;
  // Its files kept changing while they were read (a move under way), or it
  // holds a byte-identical copy of another folder's work (a move between its
  // copy and its delete). The state shown is the last one read.
  bool in_transition = false;
};

// A move's record found in the client folder, read from the record alone.
struct MoveStatus {
  // cut_short: the controller's start empties it (RecordAtStart::emptied).
  enum class State { none, under_way, interrupted, cut_short, unreadable };
  State state = State::none;
  bool push = false;
  int unit = -1;
  int files = 0;
  std::string problem;  // why an unreadable record cannot be used
};

struct BufferStatus {
  std::string path;  // the client folder, ending in a separator
  FolderStatus client;
  std::vector<FolderStatus> units;  // unit0 upward to the first gap, at most 16
  // Files a move's record proved wrong, which the controller set aside below
  // "damaged" in the client folder, as "<folder>\<name>", sorted.
  std::vector<std::string> damaged;
  // Under way while a controller holds the folder's lock; interrupted when
  // none does, and then put right by the controller's next start.
  MoveStatus move;
  // A time read above lies ahead of the clock (a clock set back, files from
  // another machine): it counts as now, so no age is negative.
  bool clock_ahead() const;
  // Units whose project had no work, as the controller's vorcnt.nowork says
  // (with NOWORK); why that file cannot be used, if so.
  std::vector<int> waiting_for_work;
  std::string work_wait_problem;
  // What lies ahead and who works on it; filled by run_vorstat after the read.
  Outlook outlook;
};

// Whether the report can see the client folder `path` (ending in a
// separator), looked at before anything is read from it. A report that
// cannot see says so, rather than show an empty buffer as a dry one.
struct Sight {
  enum class Kind {
    seen,
    missing,     // no folder of that name
    unreadable,  // it, a folder in it, or a file it holds cannot be read
    no_client,   // no sign of a client or a controller in it at all
  };
  Kind kind = Kind::seen;
  std::string why;  // for unreadable: what cannot be read, and the system's reason
};
Sight look_at_client_folder(const std::string& path);

// Reads the client folder `path` (ending in a separator) and its unit folders.
// `now` is the current time in seconds since 1970, for the work-unit ages.
// The whole buffer is read again while a move beside it changes the files,
// with `pause(attempt)` between the reads (the real one sleeps a little longer
// each time); folders still changing after the last read are marked
// in_transition.
BufferStatus read_buffer_status(const std::string& path, std::int64_t now);
BufferStatus read_buffer_status(const std::string& path, std::int64_t now, void (*pause)(int attempt));

// The units of the buffer as it stands, whatever state -fill left them in.
BufferCounts count_buffer(const BufferStatus& status);

// The buffer as Prometheus text exposition: gauges named vorcnt_...,
// vorcnt_scrape_ok 1 among them.
std::string format_prometheus(const BufferStatus& status);
// The same file when no report could be made: vorcnt_scrape_ok 0, with
// vorcnt_client_folder_present 0 when `no_folder` (no client folder is
// there), and no other figure.
std::string format_prometheus_failed(bool no_folder);

// The report as a table (code page 932 bytes, for the console) or as JSON
// (ASCII only; every non-ASCII character is a \u escape of its Unicode value).
// The table's pieces alternate: even ones are CP932 text, odd ones paths that
// reach the terminal unchanged; format_table joins them.
std::vector<std::string> table_pieces(const BufferStatus& status);
std::string format_table(const BufferStatus& status);
std::string format_json(const BufferStatus& status);

// Writes `bytes` to `path` through a temporary file beside it, synced, and a
// rename, so a reader sees the old file or the new one, never a part. False,
// with one line on why said in `errors`, when it could not.
bool replace_file_atomically(const std::string& path, const std::string& bytes, Console& errors);

// The exit statuses.
inline constexpr int kReportMade = 0;
// The report could not be made: the client folder is missing, cannot be
// read or is no client folder, vorcnt.cfg names none, or the report cannot
// be written (the metrics file, or standard output other than to a reader
// that stopped early).
inline constexpr int kReportNotMade = 1;
inline constexpr int kBadUsage = 2;

// The whole program: parses argv, finds the folder, writes the report to
// `out` and any complaint to `errors` (one line each, paths and what the
// user typed written verbatim). Returns the exit status.
int run_vorstat(int argc, const char* const* argv, Console& out, Console& errors, std::int64_t now);

}  // namespace vorcnt::vorstat
