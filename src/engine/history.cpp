#include "engine/history.h"

#include <cstdio>

#include "clientdata/snapshot.h"
#include "engine/engine.h"
#include "engine/digest.h"
#include "ground/messages.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/journal_file.h"
#include "platform/time_scale.h"

namespace vorcnt {

const char kJournalHeader[] = "time\tunit\tevent\tidentity\tdetail\n";

const char* event_name(UnitEvent event) {
  switch (event) {
    case UnitEvent::pop_compute: return "pop_compute";
    case UnitEvent::calc_start: return "calc_start";
    case UnitEvent::computed: return "computed";
    case UnitEvent::push: return "push";
    case UnitEvent::pop_send: return "pop_send";
    case UnitEvent::connect_start: return "connect_start";
    case UnitEvent::connected: return "connected";
    case UnitEvent::no_work: return "no_work";
    case UnitEvent::fill_complete: return "fill_complete";
    case UnitEvent::move_finished: return "move_finished";
    case UnitEvent::move_failed: return "move_failed";
    case UnitEvent::move_cleared: return "move_cleared";
    case UnitEvent::restarted: return "restarted";
    case UnitEvent::restart_stop: return "restart_stop";
    case UnitEvent::project_dry: return "project_dry";
    case UnitEvent::work_again: return "work_again";
  }
  return "?";
}

std::string iso8601(const LocalTime& t) {
  const int offset_minutes = (t.offset_seconds < 0 ? -t.offset_seconds : t.offset_seconds) / 60;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.offset_seconds < 0 ? '-' : '+', offset_minutes / 60, offset_minutes % 60);
  return buf;
}

std::string unit_identity(const std::string& folder) {
  for (const char* name : {"result.vwu", "work_unit.vwu"}) {
    const std::string file = folder + name;
    if (!path_exists(file.c_str())) continue;
    Digest digest;
    std::uintmax_t size = 0;
    int error = 0;
    if (digest_file(file, &digest, &size, &error)) return digest.hex().substr(0, 12);
  }
  return "-";
}

std::string journal_line(const LocalTime& t, int unit, UnitEvent event, const std::string& identity,
                         const std::string& detail) {
  std::string line = iso8601(t);
  line += '\t';
  line += is_unit_index(unit) ? std::to_string(unit) : "-";
  line += '\t';
  line += event_name(event);
  line += '\t';
  line += identity;
  line += '\t';
  line += detail;
  line += '\n';
  return line;
}

namespace {

// A pop to compute begins a computation; its first calc_start (a stall
// restart starts the client again on the same one) dates it. A calc_start
// with no pop in this run dates nothing that record_computed will use.
void watch_computation(Os& os, ControllerContext& ctx, UnitEvent event, int unit) {
  ComputeWatch& w = ctx.compute_watch;
  if (event == UnitEvent::pop_compute) {
    w = ComputeWatch{};
    w.unit = unit;
  } else if (event == UnitEvent::calc_start && !w.started) {
    w.started = true;
    w.since = os.clock.pause_clock_seconds();
  }
}

// "key=value" with `value` printed as "%.1f", after a blank unless first.
void add_seconds(std::string& detail, const char* key, double seconds) {
  char part[48];
  std::snprintf(part, sizeof part, "%s%s=%.1f", detail.empty() ? "" : " ", key, seconds);
  detail += part;
}

}  // namespace

void record_event(Os& os, ControllerContext& ctx, UnitEvent event, int unit, const std::string& folder,
                  const std::string& detail) {
  if (ctx.history[0] == '\0') return;
  watch_computation(os, ctx, event, unit);
  const std::string identity = is_unit_index(unit) ? unit_identity(folder) : "-";
  const std::string line = journal_line(os.clock.local_now(), unit, event, identity, detail);
  if (const Status s = os.disk.append_line(ctx.history, kJournalHeader, line); !s.ok()) {
    if (ctx.history_fault == 0)
      print_showing(os, ctx.history, msg::kJournalWriteFailed, kVerbatim, reason_of(s).c_str());
    ctx.history_fault = 1;
    return;
  }
  if (ctx.history_fault != 0) print_showing(os, ctx.history, msg::kJournalWriteResumed, kVerbatim);
  ctx.history_fault = 0;
}

const char* move_name(JournaledMove move) {
  switch (move) {
    case JournaledMove::push: return "push";
    case JournaledMove::pop: return "pop";
    case JournaledMove::remove_copies: return "del";
  }
  return "?";
}

void record_move_outcome(Os& os, ControllerContext& ctx, bool ok, JournaledMove move, int unit) {
  if (ok == (ctx.move_fault == 0)) return;
  ctx.move_fault = ok ? 0 : 1;
  // The files stayed where they were: in the client folder after a failed
  // push, in the unit folder after a failed pop.
  const std::string folder = move == JournaledMove::pop ? unit_folder(ctx.path, unit) + "\\" : ctx.path;
  record_event(os, ctx, ok ? UnitEvent::move_cleared : UnitEvent::move_failed, unit, folder, move_name(move));
}

void record_computed(Os& os, ControllerContext& ctx) {
  if (ctx.history[0] == '\0') return;
  ClientSnapshot snap;
  clear_progress(snap);
  read_snapshot(ctx.path, snap);
  ComputeWatch& w = ctx.compute_watch;
  // The pause clock runs slower under VORCNT_TIME_SCALE; the journal's
  // seconds are the wall clock's, as its times are.
  const bool timed = w.started && w.unit == ctx.calculation_unit;
  const double wall = timed ? (os.clock.pause_clock_seconds() - w.since) * time_scale() : -1;
  w = ComputeWatch{};
  // A state file is the client's word, and a corrupt one says anything: what
  // no computation can have is not written, so no reader takes it for a figure.
  std::string detail;
  const double percent = snap.prog * 100.0;
  if (percent >= 0 && percent <= 100) {
    char part[32];
    std::snprintf(part, sizeof part, "progress=%.6f", percent);
    detail = part;
  }
  if (credible_seconds(snap.cpu)) add_seconds(detail, "cpu", snap.cpu);
  if (credible_seconds(wall)) add_seconds(detail, "wall", wall);
  record_event(os, ctx, UnitEvent::computed, ctx.calculation_unit, ctx.path, detail);
}

}  // namespace vorcnt
