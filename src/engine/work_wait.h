// A project with no work (NOWORK). The client stays in a connection until
// new work comes, with no time-out of its own; with NOWORK set, a connection
// that has sent its result and got no work for that many minutes is ended,
// and its unit waits: the selection passes over it until its retry time, so
// the rest of the buffer is sent and computed meanwhile. The pause grows
// from 1 hour, doubling to 24 hours, and ends at once when the connection
// window opens.
//
// A pause is measured on the pause clock, never on the wall clock, so that
// a step of the clock neither stretches nor cuts it. Which units wait, and
// until when on the wall clock, is kept in the controller's own file in the
// client folder for a restart, written whole or not at all and never through
// a link; it is never guessed from what the folders hold. Without NOWORK
// none of this reads, writes or prints anything.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ground/context.h"
#include "platform/os.h"
#include "platform/status.h"

namespace vorcnt {

inline constexpr char kWorkWaitName[] = "vorcnt.nowork";
// The first pause, and the longest the doubling reaches (nominal seconds).
inline constexpr std::int32_t kFirstWorkPause = 3600;
inline constexpr std::int32_t kLongestWorkPause = 86400;

using WorkWaits = WorkWait[kMaxUnits];

// --- the file: its reader is vorstat's too ---------------------------------

// The file in client folder `path` (as in the settings).
std::string work_wait_path(const char* path);
// "vorcnt.nowork 1", one line per waiting unit
// ("unit=N since=S asked=A retry_at=R pause=P", times in seconds since 1970), "end".
std::string format_work_waits(const WorkWaits& waits);
// Strict: anything else is refused, with `why` saying where.
bool parse_work_waits(std::string_view text, WorkWaits& waits, std::string* why);
enum class WorkWaitRead { none, read, unreadable };
// `waits` is cleared first; none when the file is absent (no unit waits).
WorkWaitRead read_work_waits(const char* path, WorkWaits& waits, std::string* why);
// Writes a temporary file that must be new, syncs it, renames it over the
// file and syncs the folder. A link at either name is refused.
Status write_work_waits(Disk& disk, const char* path, const WorkWaits& waits);
// How many of the first `units` units wait for work.
int units_waiting_for_work(const WorkWaits& waits, int units);

// --- the controller --------------------------------------------------------

// At start-up: the waits a run before this one left, one line per unit. A
// retry time further ahead than the unit's own pause (at most a day) is
// read as that pause from now, one in the past as due now.
void load_work_waits(Os& os, ControllerContext& ctx);
// True when `unit` waits for work and its retry has not come: the selection
// passes over it while it has nothing to send.
bool waits_for_work(Os& os, const ControllerContext& ctx, int unit);
// When nothing is left to compute or send: the waiting unit whose retry
// comes first becomes the unit to send, and the connection's gate holds it.
bool choose_waiting_unit(ControllerContext& ctx);
// The gate before a connection starts: 0 when the current unit may connect;
// otherwise the quiet pause to take, at most TIME. After a step of the wall
// clock it sets the unit's wall-clock retry time again, and the file's.
int work_wait_gate(Os& os, ControllerContext& ctx);
// One look in Vorcon_Connection: ends a connection that has waited for work
// for NOWORK minutes, and makes its unit wait.
void watch_for_work(Os& os, ControllerContext& ctx);
// A connection of the current unit ended with new work: a unit that waited
// says so once and waits no more.
void note_work_came(Os& os, ControllerContext& ctx);
// With NOWORK set: the connection under way has sent its result and is
// waiting for work, with no download in progress. Not a stall.
bool connection_waits_for_work(const ControllerContext& ctx);

}  // namespace vorcnt
