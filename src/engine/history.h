// The unit history: an append-only journal of what happened to each work
// unit, one tab-separated UTF-8 line per event, written as it happens. It is
// kept only when HISTORY names a file; a journal that cannot be written costs
// one console line when the fault begins and one when it clears, and the
// buffer goes on.
#pragma once

#include <string>

#include "ground/context.h"
#include "platform/os.h"

namespace vorcnt {

enum class UnitEvent {
  pop_compute,    // popped into the client folder to be computed
  calc_start,     // the client was started to compute it
  computed,       // detail: progress and CPU seconds from the state file, and
                  // the seconds the client computed it when this run saw it begin
  push,           // pushed back into its unit folder
  pop_send,       // popped into the client folder to be sent
  connect_start,  // the client was started to connect
  connected,      // detail: whether the result was sent and new work came
  no_work,        // the computing search found nothing to compute
  fill_complete,  // nothing is left to send
  move_finished,  // a move stopped by an earlier run was finished at start-up
  move_failed,    // detail: which move; recorded once until it clears
  move_cleared,   // a move succeeded again after a failure
  restarted,      // the client's files stood still too long: it was restarted
  restart_stop,   // they still stood still after the last restart: no more
  project_dry,    // with NOWORK: a connection ended without work; detail: the pause
  work_again,     // a unit that waited for work got some
};

// The most a unit's computation, or its CPU time, can take. A figure beyond
// it, negative or not a number comes from a corrupt file: it is left out of
// the journal and of every figure read from it.
constexpr double kLongestCredibleSeconds = 366.0 * 86400;
inline bool credible_seconds(double seconds) { return seconds >= 0 && seconds <= kLongestCredibleSeconds; }

// The journal's first line and the event names in it.
extern const char kJournalHeader[];
const char* event_name(UnitEvent event);

// "2026-03-29T01:59:59+01:00".
std::string iso8601(const LocalTime& t);
// The first 12 hex digits of the XXH3-128 digest of the work unit's file in `folder`
// (a folder text ending in a separator, or empty for the current folder):
// its result once computed, else its work unit; "-" when it has neither.
std::string unit_identity(const std::string& folder);
// One journal line, ending in '\n'. A unit outside 0-15 is written "-".
std::string journal_line(const LocalTime& t, int unit, UnitEvent event, const std::string& identity,
                         const std::string& detail);

// Appends an event for `unit`, whose files are now in `folder`. Does nothing
// when no journal is set.
void record_event(Os& os, ControllerContext& ctx, UnitEvent event, int unit, const std::string& folder,
                  const std::string& detail = {});
// The move whose outcome is journaled; its name is the line's detail.
enum class JournaledMove {
  push,           // client folder to unit folder
  pop,            // unit folder to client folder
  remove_copies,  // the client folder's copies left by an interrupted move
};
const char* move_name(JournaledMove move);

// A move's outcome: a failure is recorded when a run of failures begins, and
// its clearing at the next move that succeeds.
void record_move_outcome(Os& os, ControllerContext& ctx, bool ok, JournaledMove move, int unit);
// A pop of calculation_unit: its outcome, and what it was popped for, which
// vorcnt_state tells.
void record_pop(Os& os, ControllerContext& ctx, bool ok);
// The journal line for a computation that has just finished, with what the
// client's state file reports and, when this run popped the unit and started
// the client on it, the seconds since then on a clock no step can move
// ("wall=").
void record_computed(Os& os, ControllerContext& ctx);

}  // namespace vorcnt
