// The one record of settings and run state. main() owns it for the whole run
// and lends it by reference to every operation.
#pragma once

#include <cstdint>
#include <string>

namespace vorcnt {

enum RunMode : std::int32_t {
  Mode_calc = 0,
  Mode_fill = 1,
  Mode_verinfo = 2,
  Mode_help = 3,
  Mode_error = 99,
};

enum ControllerState : std::int32_t {
  Vorcon_CalcWait = 0,
  Vorcon_Calc = 1,
  Vorcon_CalcCompletion = 2,
  Vorcon_ConnectionWait = 3,
  Vorcon_Connection = 4,
  Vorcon_ConnectCompletion = 5,
  Vorcnt_error = 99,
};

// The exit statuses, as sysexits.h numbers them, for scripts and service
// managers. Every console line stays the same whatever the status.
enum ExitStatus : int {
  Exit_ok = 0,            // -version, -help, a stop from outside
  Exit_usage = 64,        // an argument on the command line was refused
  Exit_unavailable = 69,  // the client folder, client or closer cannot be found or
                          // run, or the folder's units cannot be gone on with
  Exit_software = 70,     // an internal stop
  Exit_tempfail = 75,     // another controller holds the folder, or its guard
                          // cannot be made: a later start may work
  Exit_config = 78,       // a setting or vorcnt.cfg was refused, or a fresh folder
                          // was started without -fill
};

// "No unit is current": never an index into unit_state.
constexpr std::int32_t NO_UNIT = 255;
constexpr int kMaxUnits = 16;
constexpr int kTextField = 255;  // path and execfinish: 254 characters at most

// Restarts of a client whose files stay unchanged, before they stop.
constexpr int kStallRestarts = 3;

// What the stall watch keeps between passes. Times are on the pause clock,
// so the time scale shrinks them as it shrinks the pauses.
struct StallWatch {
  std::int32_t state = -1;  // the vorcnt_state and unit watched; -1: none yet
  std::int32_t unit = -1;
  std::string files;        // the client's files and progress as last seen
  double changed_at = 0;    // when they last changed
  double quiet_since = 0;   // that, or the first look after a restart if later
  std::int32_t restarts = 0;  // in a row without a change; past kStallRestarts once stopped
  bool after_restart = false; // the next look is the first after a restart
};

// A unit whose project had no work. The wait itself is a pause on the pause
// clock, so that no step of the wall clock can stretch or cut it; the
// wall-clock times are what the controller's own file keeps for a restart
// and for the reports, where retry_at is advice.
struct WorkWait {
  std::int64_t since = 0;     // when its project was first found dry; 0: not waiting
  std::int64_t asked = 0;     // when its last connection was ended for want of work
  std::int64_t retry_at = 0;  // when it may connect again, as the wall clock last read
  std::int32_t pause = 0;     // the nominal seconds of that pause: 1 hour, doubling to 24
  double began = 0;           // on the pause clock: when the pause began,
  double ends = 0;            // and when it ends
};

// A connection that has sent its result and waits for work, as last seen.
struct DryWatch {
  std::int32_t unit = -1;  // the unit watched; -1: none
  std::string download;    // the temporary work unit's size and time, if any
  double dry_since = 0;    // on the pause clock: when that was first seen
};

// The computation the journal times: a unit popped to compute in this run,
// and when the client began on it, on the pause clock. A unit this run did
// not pop (one the client computed when the run began) has no time to give.
struct ComputeWatch {
  std::int32_t unit = -1;  // -1: none popped to compute
  bool started = false;    // its calc_start came
  double since = 0;        // then
};

// Version texts, CP932 ("0.2β+6", "0.6α6").
extern const char kControllerVersion[];
extern const char kMonitorVersion[];

struct ControllerContext {
  char controller_version[32] = {};
  char monitor_version[32] = {};
  char path[kTextField] = {};
  char execfinish[kTextField] = {};
  std::int32_t data_state = 0;
  double progress = 0.0;
  std::int32_t calculation_unit = 0;
  std::int32_t unit_state[kMaxUnits] = {};
  std::int32_t vorcnt_state = Vorcon_CalcWait;
  std::int32_t units_local = 0;
  std::int32_t mode = Mode_calc;
  std::int32_t fill = 0;
  std::int32_t autofill = 0;
  std::int32_t units = 2;
  std::int32_t prog = 0;
  std::int32_t time = 120;

  // Opt-in settings, off unless vorcnt.cfg or the command line sets them.
  std::int32_t connect_start = -1;  // connection window, minutes after local
  std::int32_t connect_end = -1;    // midnight; -1: connect at any time
  char history[kTextField] = {};    // journal file; empty: none
  char execempty[kTextField] = {};  // run when nothing is left to compute
  std::int32_t stall = 0;           // minutes the client's files may stay unchanged
                                    // before it is restarted; 0: never restarted
  std::int32_t nowork = 0;          // minutes a connection may wait for work before it
                                    // is ended and its unit waits; 0: it waits on
  char log[kTextField] = {};        // every console line copied here; empty: none

  // Their run state.
  std::int32_t connect_waiting = 0;  // the wait for the window has been announced
  std::int32_t history_fault = 0;    // the journal could not be written
  std::int32_t move_fault = 0;       // a failed move was journalled, not yet cleared
  StallWatch stall_watch;            // the client's files while it computes or connects
  WorkWait work_wait[kMaxUnits];     // units whose project had no work (with NOWORK)
  DryWatch dry_watch;                // a connection waiting for work (with NOWORK)
  ComputeWatch compute_watch;        // the unit computing, for the journal's time of it

  // Run state of our own beside the settings above (the dump never shows it).
  // The one failure line now showing: a retry that fails the same way prints
  // nothing, and the first success after it says the failure cleared.
  std::string failure_shown;
  // The current unit was selected but its pop did not complete: nothing may
  // run in the client folder until a retry of that pop succeeds.
  bool pop_pending = false;
  // A client folder setting was refused; the run must not fall back to the
  // current folder.
  bool path_refused = false;
  // Settings refused so far (each left Mode_error), and the exit status of a
  // stop that has one of its own (Exit_ok: none).
  std::int32_t settings_refused = 0;
  std::int32_t stop_status = Exit_ok;
};

}  // namespace vorcnt
