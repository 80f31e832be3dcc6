#include "engine/controller_status.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "engine/connect_window.h"
#include "engine/unit_folders.h"

namespace vorcnt {

const char kStatusFileName[] = "vorcnt.status";

namespace {

// "computing unit3 (45 %)", or without the percentage when it is not known
// (`permille` below 0).
int computing_line(char* out, std::size_t size, int unit, std::int32_t permille) {
  if (permille < 0) return std::snprintf(out, size, "computing unit%d", unit);
  return std::snprintf(out, size, "computing unit%d (%d %%)", unit, permille / 10);
}

// Rounded by hand: std::lround would bring the maths library into a program
// that sleeps beside the client for months. -1 for a figure out of range.
std::int32_t permille_of(double percent) {
  const double permille = percent * 10;
  return permille >= 0 && permille < 1e6 ? static_cast<std::int32_t>(permille + 0.5) : -1;
}

}  // namespace

const char* state_word(std::int32_t vorcnt_state) {
  switch (vorcnt_state) {
    case Vorcon_CalcWait: return "starting_computation";
    case Vorcon_Calc: return "computing";
    case Vorcon_CalcCompletion: return "storing_result";
    case Vorcon_ConnectionWait: return "waiting_to_connect";
    case Vorcon_Connection: return "connecting";
    case Vorcon_ConnectCompletion: return "storing_after_connection";
    default: return "stopped";
  }
}

const char* wait_word(WaitKind wait) {
  switch (wait) {
    case WaitKind::client_computing: return "client_computing";
    case WaitKind::connection: return "connection";
    case WaitKind::window: return "window";
    case WaitKind::no_work: return "no_work";
    case WaitKind::failure: return "failure";
    case WaitKind::none: break;
  }
  return "none";
}

void note_no_work(ControllerStatus& status, std::int64_t retry_at) {
  status.wait = WaitKind::no_work;
  status.wait_time = retry_at;
}

ControllerStatus observe_status(const ControllerContext& ctx, const ControllerStatus& before, Clock& clock) {
  ControllerStatus s;
  s.state = ctx.vorcnt_state;
  s.unit = is_unit_index(ctx.calculation_unit) ? ctx.calculation_unit : -1;
  s.last_connection = before.last_connection;
  // A connection that has ended leaves its state for the store that follows.
  if (before.state == Vorcon_Connection && s.state != Vorcon_Connection) s.last_connection = clock.now_utc();
  if (!ctx.failure_shown.empty()) {
    s.wait = WaitKind::failure;
    s.failed_pop = ctx.pop_pending;
    s.wait_time = before.wait == WaitKind::failure ? before.wait_time : clock.now_utc();
    return s;
  }
  if (s.state == Vorcon_Calc) {
    s.wait = WaitKind::client_computing;
    s.progress_permille = std::max<std::int32_t>(permille_of(ctx.progress), 0);
  } else if (s.state == Vorcon_Connection) {
    s.wait = WaitKind::connection;
  } else if (s.state == Vorcon_ConnectionWait && s.unit >= 0 && ctx.work_wait[s.unit].since != 0 &&
             ctx.work_wait[s.unit].retry_at > clock.now_utc()) {
    note_no_work(s, ctx.work_wait[s.unit].retry_at);
  } else if (s.state == Vorcon_ConnectionWait && ctx.connect_waiting != 0) {
    s.wait = WaitKind::window;
    s.wait_time = before.wait == WaitKind::window
                      ? before.wait_time
                      : clock.now_utc() + seconds_until_open(window_of(ctx), clock.local_now());
  }
  return s;
}

std::size_t status_line(const ControllerStatus& s, Clock& clock, char* out, std::size_t size) {
  // Only a wait with a time is read in local time: the zone's rules cost
  // memory that an idle controller need not pay.
  const bool timed = s.wait == WaitKind::failure || s.wait == WaitKind::window || s.wait == WaitKind::no_work;
  const LocalTime at = timed ? clock.local_time(s.wait_time) : LocalTime{};
  const char* what = s.failed_pop ? "pop" : "move";
  int n = 0;
  switch (s.wait) {
    case WaitKind::failure:
      n = std::snprintf(out, size, "retrying a failed %s of unit%d since %02d:%02d", what, s.unit, at.hour, at.minute);
      break;
    case WaitKind::window:
      n = std::snprintf(out, size, "waiting for the connection window (opens %02d:%02d)", at.hour, at.minute);
      break;
    case WaitKind::no_work:
      n = std::snprintf(out, size, "no work for unit%d until %02d:%02d", s.unit, at.hour, at.minute);
      break;
    case WaitKind::client_computing:
      n = computing_line(out, size, s.unit, s.progress_permille);
      break;
    case WaitKind::connection: n = std::snprintf(out, size, "connecting unit%d", s.unit); break;
    case WaitKind::none:
      if (s.state == Vorcon_CalcWait)
        n = std::snprintf(out, size, "starting the client for unit%d", s.unit);
      else if (s.state == Vorcon_ConnectionWait)
        n = std::snprintf(out, size, "starting a connection for unit%d", s.unit);
      else if (s.state == Vorcon_CalcCompletion || s.state == Vorcon_ConnectCompletion)
        n = std::snprintf(out, size, "storing unit%d", s.unit);
      else
        n = std::snprintf(out, size, "stopped");
      break;
  }
  return n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), size - 1);
}

std::string status_file_text(const ControllerStatus& s, int pid, std::int64_t started, std::int64_t changed,
                             std::string_view line) {
  char buf[512];
  const int n = std::snprintf(
      buf, sizeof buf,
      "pid=%d\nstarted=%lld\nchanged=%lld\nstate=%s\nunit=%d\nprogress=%.1f\nwait=%s\nwait_time=%lld\n"
      "last_connection=%lld\nstatus=%.*s\n",
      pid, static_cast<long long>(started), static_cast<long long>(changed), state_word(s.state), s.unit,
      s.progress_permille < 0 ? -1.0 : s.progress_permille / 10.0, wait_word(s.wait),
      static_cast<long long>(s.wait_time), static_cast<long long>(s.last_connection),
      static_cast<int>(line.size()), line.data());
  return std::string(buf, n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1));
}

std::string published_line(const PublishedStatus& p, double progress) {
  if (p.wait != wait_word(WaitKind::client_computing)) return p.line;
  char line[64];
  const int n = computing_line(line, sizeof line, p.unit, permille_of(progress));  // NaN reads as not known
  return std::string(line, n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1));
}

bool parse_status_file(std::string_view text, PublishedStatus* out) {
  PublishedStatus p;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, eq);
    const std::string value(line.substr(eq + 1));
    const long long number = std::strtoll(value.c_str(), nullptr, 10);
    if (key == "pid") p.pid = static_cast<int>(number);
    else if (key == "started") p.started = number;
    else if (key == "changed") p.changed = number;
    else if (key == "wait_time") p.wait_time = number;
    else if (key == "last_connection") p.last_connection = number;
    else if (key == "unit") p.unit = static_cast<int>(number);
    else if (key == "progress") p.progress = std::strtod(value.c_str(), nullptr);
    else if (key == "state") p.state = value;
    else if (key == "wait") p.wait = value;
    else if (key == "status") p.line = value;
  }
  if (p.pid <= 0) return false;
  *out = std::move(p);
  return true;
}

}  // namespace vorcnt
