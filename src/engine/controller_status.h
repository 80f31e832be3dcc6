// What the controller is doing, as it publishes it for vorstat (the file
// vorcnt.status in the client folder) and for a service manager (a status
// line). Advisory only: nothing reads it back to decide anything.
//
// The file is ASCII key=value lines, in this order:
//   pid=812                  the controller's process id
//   started=1796112720       when it started, seconds since 1970 (UTC)
//   changed=1796112900       when this was written (the last change)
//   state=computing          see state_word()
//   unit=3                   the current unit; -1 for none
//   progress=45.0            the running unit's progress in percent when this was
//                            written; -1 when none runs
//   wait=client_computing    see wait_word()
//   wait_time=0              until (window, no_work) or since (failure); 0: none
//   last_connection=0        when the client last finished a connection; 0: not in this run
//   status=computing unit3 (45 %)   the same one line the service manager is told
//                            then; see published_line() for the line now
// A reader skips keys it does not know, so later ones may be added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ground/context.h"
#include "platform/os.h"

namespace vorcnt {

// What the controller waits for while it waits.
enum class WaitKind : std::int32_t {
  none,
  client_computing,  // the client computes the current unit
  connection,        // the client's connection
  window,            // the connection window, opening at wait_time
  no_work,           // the project has no work, asked again at wait_time
  failure,           // a failed step, retried since wait_time
};

struct ControllerStatus {
  std::int32_t state = -1;  // vorcnt_state; -1 before the first look
  std::int32_t unit = -1;
  std::int32_t progress_permille = -1;  // tenths of a percent; -1 when no unit computes
  WaitKind wait = WaitKind::none;
  std::int64_t wait_time = 0;
  bool failed_pop = false;  // the failure is a pop (else another move)
  std::int64_t last_connection = 0;
  bool operator==(const ControllerStatus&) const = default;
};

// The status `ctx` shows now. `before` is what was last observed: when a
// failure began, the window's opening and the last connection carry over
// from it, and are only worked out again when they change. Allocates
// nothing, so that a pass with nothing new costs nearly nothing.
ControllerStatus observe_status(const ControllerContext& ctx, const ControllerStatus& before, Clock& clock);

// A project with no work: the controller waits for work until `retry_at`.
// The one place where that wait enters what is published.
void note_no_work(ControllerStatus& status, std::int64_t retry_at);

const char* state_word(std::int32_t vorcnt_state);
const char* wait_word(WaitKind wait);

// The one short line for the service manager ("computing unit3 (45 %)"),
// written into `out` (NUL-terminated, cut to fit); its length.
std::size_t status_line(const ControllerStatus& s, Clock& clock, char* out, std::size_t size);

// The file's text.
std::string status_file_text(const ControllerStatus& s, int pid, std::int64_t started, std::int64_t changed,
                             std::string_view line);

// The file read back; unknown keys are skipped. False when it names no pid.
struct PublishedStatus {
  int pid = 0;
  std::int64_t started = 0, changed = 0, wait_time = 0, last_connection = 0;
  std::string state, wait, line;
  int unit = -1;
  double progress = -1;
};
bool parse_status_file(std::string_view text, PublishedStatus* out);

// The status line of a published state as it stands now. The file is
// written when the state changes, so the percentage in its line is that
// moment's: for a unit computing, the line is made again with `progress`,
// the client's own read now (percent; NaN when not known, and then no
// percentage is given). Every other line stays true until the state
// changes, and is the file's. Files of every version read so.
std::string published_line(const PublishedStatus& p, double progress);

// The status file's name in the client folder.
extern const char kStatusFileName[];

}  // namespace vorcnt
