#include "engine/work_wait.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "clientdata/snapshot.h"
#include "engine/history.h"
#include "engine/stall_watch.h"
#include "engine/unit_folders.h"
#include "ground/connect_hours.h"
#include "ground/data_state.h"
#include "ground/messages.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/language.h"

namespace vorcnt {

namespace {

constexpr char kFirstLine[] = "vorcnt.nowork 1";
// Sixteen lines of a few dozen bytes; anything far larger is not ours.
constexpr std::size_t kMostBytes = 4096;
// How far the wall-clock retry time may drift from the pause before it is
// set again: more than rounding, less than any clock step worth a word.
constexpr std::int64_t kAdviceSlack = 60;

bool waiting(const WorkWait& w) { return w.since > 0; }

// A unit holding a result goes out whether or not its project has work.
bool nothing_to_send(std::int32_t data_state) { return data_state == Data_nothing || data_state == Data_Receiving; }

// "key=digits" and the blank after it, taken off the front of `line`.
bool take_field(std::string_view& line, std::string_view key, std::int64_t most, std::int64_t* value) {
  if (line.substr(0, key.size()) != key || line.substr(key.size(), 1) != "=") return false;
  line.remove_prefix(key.size() + 1);
  std::size_t n = 0;
  std::int64_t v = 0;
  for (; n < line.size() && n < 12 && line[n] >= '0' && line[n] <= '9'; ++n) v = v * 10 + (line[n] - '0');
  if (n == 0 || v > most || (n < line.size() && line[n] != ' ')) return false;
  line.remove_prefix(n < line.size() ? n + 1 : n);
  *value = v;
  return true;
}

bool parse_wait_line(std::string_view line, WorkWaits& waits) {
  std::int64_t unit = 0;
  std::int64_t pause = 0;
  WorkWait w;
  constexpr std::int64_t kMostTime = 999999999999;
  if (!take_field(line, "unit", kMaxUnits - 1, &unit) || !take_field(line, "since", kMostTime, &w.since) ||
      !take_field(line, "asked", kMostTime, &w.asked) || !take_field(line, "retry_at", kMostTime, &w.retry_at) ||
      !take_field(line, "pause", kLongestWorkPause, &pause) || !line.empty() || w.since == 0 || pause == 0 ||
      waiting(waits[unit]))
    return false;
  w.pause = static_cast<std::int32_t>(pause);
  waits[unit] = w;
  return true;
}

std::string hhmm(Os& os, std::int64_t utc) {
  const LocalTime t = os.clock.local_time(utc);
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d:%02d", t.hour % 100, t.minute % 100);
  return buf;
}

// True when the connection window has opened since the unit's pause began: a
// unit that waits for work asks again at once then. When the pause began is
// read back from the pause clock, so a step of the wall clock moves it too.
bool window_opened_since(Os& os, const ControllerContext& ctx, const WorkWait& wait) {
  const ConnectWindow w = window_of(ctx);
  if (!window_set(w) || w.start == w.end) return false;  // always open: it never opens
  const LocalTime now = os.clock.local_now();
  const int minute = now.hour * 60 + now.minute;
  if (!window_contains(w, minute)) return false;
  const int open_for = ((minute - w.start) % 1440 + 1440) % 1440;
  const auto paused_for = static_cast<std::int64_t>(os.clock.pause_clock_seconds() - wait.began);
  return now.utc_seconds - open_for * 60 - now.second > os.clock.wall_after(-paused_for);
}

// Whole nominal seconds until the unit's pause ends (0 once it has).
std::int64_t pause_left(Os& os, const WorkWait& w) {
  const double left = w.ends - os.clock.pause_clock_seconds();
  if (!(left > 0)) return 0;
  const auto whole = static_cast<std::int64_t>(left);
  return whole + (left > static_cast<double>(whole) ? 1 : 0);
}

void save(Os& os, ControllerContext& ctx) {
  const Status s = write_work_waits(os.disk, ctx.path, ctx.work_wait);
  if (!s.ok()) print(os, msg::kWorkWaitNotWritten, kWorkWaitName, tr(s.reason().c_str()));
}

void end_dry_connection(Os& os, ControllerContext& ctx, double dry_for) {
  const int unit = ctx.calculation_unit;
  WorkWait& w = ctx.work_wait[unit];
  w.pause = waiting(w) ? std::min(w.pause * 2, kLongestWorkPause) : kFirstWorkPause;
  w.asked = os.clock.now_utc();
  if (!waiting(w)) w.since = w.asked;
  w.retry_at = os.clock.wall_after(w.pause);
  w.began = os.clock.pause_clock_seconds();
  w.ends = w.began + w.pause;
  run_command(os, "vorclose -exit -echo off");
  ctx.unit_state[unit] = ctx.data_state;
  ctx.vorcnt_state = Vorcon_ConnectCompletion;
  print(os, msg::kProjectDry, unit, short_duration(static_cast<long long>(dry_for + 0.5)).c_str(),
        hhmm(os, w.retry_at).c_str(), short_duration(w.pause).c_str());
  record_event(os, ctx, UnitEvent::connected, unit, ctx.path, "sent=yes new_work=no");
  record_event(os, ctx, UnitEvent::project_dry, unit, ctx.path, "retry_in=" + std::to_string(w.pause) + "s");
  save(os, ctx);
}

}  // namespace

std::string work_wait_path(const char* path) { return path_in(path, kWorkWaitName); }

std::string format_work_waits(const WorkWaits& waits) {
  std::string text = std::string(kFirstLine) + "\n";
  for (int i = 0; i < kMaxUnits; ++i) {
    const WorkWait& w = waits[i];
    if (!waiting(w)) continue;
    text += "unit=" + std::to_string(i) + " since=" + std::to_string(w.since) + " asked=" + std::to_string(w.asked) +
            " retry_at=" + std::to_string(w.retry_at) + " pause=" + std::to_string(w.pause) + "\n";
  }
  return text + "end\n";
}

bool parse_work_waits(std::string_view text, WorkWaits& waits, std::string* why) {
  for (WorkWait& w : waits) w = WorkWait{};
  int line_number = 0;
  bool ended = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++line_number;
    const bool ok = end != std::string_view::npos && !ended &&
                    (line_number == 1 ? line == kFirstLine : line == "end" || parse_wait_line(line, waits));
    if (!ok) {
      for (WorkWait& w : waits) w = WorkWait{};
      *why = format_text(N_("its line %d is not what vorcnt writes"), line_number);
      return false;
    }
    ended = line_number > 1 && line == "end";
  }
  if (!ended) *why = N_("it has no end line");
  return ended;
}

WorkWaitRead read_work_waits(const char* path, WorkWaits& waits, std::string* why) {
  for (WorkWait& w : waits) w = WorkWait{};
  const std::string name = work_wait_path(path);
  if (presence(name) == Presence::absent) return WorkWaitRead::none;
  if (is_symbolic_link(name)) {
    *why = N_("it is a link");
    return WorkWaitRead::unreadable;
  }
  const int fd = open_for_reading(name.c_str());
  if (fd < 0) {
    *why = N_("it cannot be opened");
    return WorkWaitRead::unreadable;
  }
  std::string text;
  char buf[4096];
  long n;
  while ((n = read_some(fd, buf, sizeof buf)) > 0 && text.size() <= kMostBytes)
    text.append(buf, static_cast<std::size_t>(n));
  close_handle(fd);
  if (n < 0 || text.size() > kMostBytes) {
    *why = n < 0 ? N_("it cannot be read through") : N_("it is far larger than vorcnt writes it");
    return WorkWaitRead::unreadable;
  }
  return parse_work_waits(text, waits, why) ? WorkWaitRead::read : WorkWaitRead::unreadable;
}

Status write_work_waits(Disk& disk, const char* path, const WorkWaits& waits) {
  const std::string name = work_wait_path(path);
  const std::string temp = name + ".new";
  if (disk.is_link(name)) return Status::failed(0, name, N_("it is a link"));
  // A temporary file left by a stop mid-write goes first; a link under its
  // name goes itself, never what it names.
  Status s = disk.remove(temp);
  if (s.ok()) s = disk.write_new_file(temp, format_work_waits(waits));
  if (s.ok()) s = disk.sync_file(temp);
  if (s.ok()) s = disk.rename(temp, name);
  if (s.ok()) return disk.sync_folder(path);
  (void)disk.remove(temp);
  return s;
}

int units_waiting_for_work(const WorkWaits& waits, int units) {
  int n = 0;
  for (int i = 0; i < std::clamp(units, 0, kMaxUnits); ++i) n += waiting(waits[i]) ? 1 : 0;
  return n;
}

void load_work_waits(Os& os, ControllerContext& ctx) {
  if (ctx.nowork <= 0) return;
  std::string why;
  if (read_work_waits(ctx.path, ctx.work_wait, &why) == WorkWaitRead::unreadable) {
    // Nothing waits then: at worst a unit asks for work once too early.
    print(os, msg::kWorkWaitUnreadable, kWorkWaitName, tr(why.c_str()));
    return;
  }
  // The file's times are the wall clock's, which may have been stepped since
  // they were written (or never be ours): a unit never waits longer than its
  // own pause from now, and one whose time has passed asks at once.
  const double now = os.clock.pause_clock_seconds();
  bool moved = false;
  for (int i = 0; i < kMaxUnits; ++i) {
    WorkWait& w = ctx.work_wait[i];
    if (!waiting(w)) continue;
    const std::int64_t left = std::min<std::int64_t>(os.clock.pause_until(w.retry_at), w.pause);
    // Only a time further off than a whole pause begun now, past the second
    // a scaled pause rounds to, is written again; one past reads as due in
    // the file as it stands.
    const bool too_far = w.retry_at > os.clock.wall_after(w.pause) + 1;
    if (too_far || w.retry_at < os.clock.now_utc()) w.retry_at = os.clock.wall_after(left);
    moved = moved || too_far;
    w.ends = now + static_cast<double>(left);
    w.began = w.ends - w.pause;
    print(os, msg::kWorkWaitKept, i, hhmm(os, w.retry_at).c_str(), short_duration(left).c_str());
  }
  if (moved) save(os, ctx);
}

bool waits_for_work(Os& os, const ControllerContext& ctx, int unit) {
  if (ctx.nowork <= 0 || !is_unit_index(unit) || !waiting(ctx.work_wait[unit])) return false;
  const WorkWait& w = ctx.work_wait[unit];
  return nothing_to_send(ctx.unit_state[unit]) && pause_left(os, w) > 0 && !window_opened_since(os, ctx, w);
}

bool choose_waiting_unit(ControllerContext& ctx) {
  if (ctx.nowork <= 0) return false;
  int chosen = NO_UNIT;
  for (int i = 0; i < std::clamp<int>(ctx.units_local, 0, kMaxUnits); ++i) {
    if (!waiting(ctx.work_wait[i]) || !nothing_to_send(ctx.unit_state[i])) continue;
    if (chosen == NO_UNIT || ctx.work_wait[i].ends < ctx.work_wait[chosen].ends) chosen = i;
  }
  if (chosen == NO_UNIT) return false;
  ctx.calculation_unit = chosen;
  ctx.vorcnt_state = Vorcon_ConnectionWait;
  ctx.mode = Mode_fill;
  return true;
}

int work_wait_gate(Os& os, ControllerContext& ctx) {
  if (ctx.nowork <= 0) return 0;
  const bool held = waits_for_work(os, ctx, ctx.calculation_unit);
  if (!is_unit_index(ctx.calculation_unit) || !waiting(ctx.work_wait[ctx.calculation_unit])) return 0;
  // The wall-clock retry time is what the status and a restart read: after a
  // step of the wall clock it is set again from the pause, once.
  WorkWait& w = ctx.work_wait[ctx.calculation_unit];
  const std::int64_t left = held ? pause_left(os, w) : 0;
  const std::int64_t at = os.clock.wall_after(left);
  if (held ? std::abs(at - w.retry_at) > kAdviceSlack : w.retry_at > at + kAdviceSlack) {
    w.retry_at = at;
    save(os, ctx);
  }
  return held ? static_cast<int>(std::clamp<std::int64_t>(left, 1, std::max(ctx.time, 1))) : 0;
}

bool connection_waits_for_work(const ControllerContext& ctx) {
  if (ctx.nowork <= 0 || ctx.vorcnt_state != Vorcon_Connection) return false;
  const ConnectionLook look = look_at_connection(ctx.path);
  return !look.result && !look.work_unit && look.download.empty();
}

void watch_for_work(Os& os, ControllerContext& ctx) {
  if (ctx.nowork <= 0 || !is_unit_index(ctx.calculation_unit)) return;
  DryWatch& d = ctx.dry_watch;
  const ConnectionLook look = look_at_connection(ctx.path);
  const double now = os.clock.pause_clock_seconds();
  if (look.result || look.work_unit) {
    d = DryWatch{};  // still sending, or the work is here
    return;
  }
  if (d.unit != ctx.calculation_unit || look.download != d.download) {
    // The first look at a sent result, or a download that has moved: a
    // download still growing is never cut.
    d.unit = ctx.calculation_unit;
    d.download = look.download;
    d.dry_since = now;
    return;
  }
  if (now - d.dry_since < ctx.nowork * 60.0) return;
  end_dry_connection(os, ctx, now - d.dry_since);
  d = DryWatch{};
}

void note_work_came(Os& os, ControllerContext& ctx) {
  ctx.dry_watch = DryWatch{};
  const int unit = ctx.calculation_unit;
  if (ctx.nowork <= 0 || !is_unit_index(unit) || !waiting(ctx.work_wait[unit])) return;
  print(os, msg::kWorkCameAgain, unit, short_duration(os.clock.now_utc() - ctx.work_wait[unit].since).c_str());
  record_event(os, ctx, UnitEvent::work_again, unit, ctx.path);
  ctx.work_wait[unit] = WorkWait{};
  save(os, ctx);
}

}  // namespace vorcnt
