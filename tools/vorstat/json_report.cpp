// The report as JSON (schema 1): ASCII only, every other character a \u
// escape of its Unicode value.
#include <string_view>

#include "engine/history.h"
#include "json_writer.h"
#include "report_text.h"
#include "vorstat_report.h"

namespace vorcnt::vorstat {

namespace {

std::string folder_json(const FolderStatus& f) {
  const ClientSnapshot& s = f.snap;
  JsonObject o;
  if (f.unit >= 0) o.integer("unit", f.unit);
  // The folder's own name, without the separator added for the readers.
  o.text("folder", std::string_view(f.folder).substr(0, f.folder.size() - 1), TextFrom::native);
  o.text("ext", ext_of(s), TextFrom::cp932);
  o.integer("state", f.report.data_state);
  o.text("state_name", data_state_name(f.report.data_state), TextFrom::cp932);
  o.number("progress", f.report.progress, credible_progress(f.report.progress));
  // A CPU time no computation can have comes from a corrupt state file.
  o.number("cpu", s.cpu, s.state_status != 1 && credible_seconds(s.cpu));
  o.integer("work_unit_status", s.work_unit_status);
  o.raw("work_unit_age_s", f.work_unit_dated ? std::to_string(f.work_unit_age) : "null");
  if (f.unit < 0) o.raw("files_unchanged_s", f.files_dated ? std::to_string(f.files_unchanged) : "null");
  o.boolean("result", s.result_present == 1);
  o.boolean("outfile", s.outfile_present == 1);
  o.boolean("in_transition", f.in_transition);
  if (f.user_info_file) {
    // The account key is left out on purpose: a status report gets pasted
    // into messages, and the key is not needed to read the buffer's state.
    for (const auto& [name, value] :
         {std::pair{"id", s.id}, {"email_addr", s.email_addr}, {"name", s.name}, {"url", s.url},
          {"country", s.country}, {"postal_code", s.postal_code}, {"show_name", s.show_name},
          {"show_email", s.show_email}, {"venue", s.venue}, {"register_time", s.register_time},
          {"last_wu_time", s.last_wu_time}, {"last_result_time", s.last_result_time}})
      o.text(name, value, TextFrom::cp932);
    o.integer("nwus", s.nwus);
    o.integer("nresults", s.nresults);
    o.number("total_cpu", s.total_cpu);
    o.integer("params_index", s.params_index);
  }
  return o.close();
}

std::string move_json(const MoveStatus& move) {
  JsonObject o;
  switch (move.state) {
    case MoveStatus::State::none:
      return "null";
    case MoveStatus::State::unreadable:
    case MoveStatus::State::cut_short:
      o.text("state", move.state == MoveStatus::State::cut_short ? "cut_short" : "unreadable", TextFrom::native);
      o.text("problem", move.problem, TextFrom::cp932);
      break;
    case MoveStatus::State::under_way:
    case MoveStatus::State::interrupted:
      o.text("state", move.state == MoveStatus::State::under_way ? "under_way" : "interrupted", TextFrom::native);
      o.text("direction", move.push ? "push" : "pop", TextFrom::native);
      o.integer("unit", move.unit);
      o.integer("files", move.files);
      break;
  }
  return o.close();
}

std::string controller_json(const Outlook& o) {
  if (!o.status_file) return "null";
  const PublishedStatus& p = o.published;
  JsonObject c;
  c.integer("pid", p.pid);
  c.integer("started", p.started);
  c.integer("changed", p.changed);
  c.text("state", p.state, TextFrom::native);
  c.raw("unit", p.unit < 0 ? std::string("null") : std::to_string(p.unit));
  c.number("progress", p.progress, p.progress >= 0);
  c.text("waiting_for", p.wait, TextFrom::native);
  c.raw("wait_time", p.wait_time > 0 ? std::to_string(p.wait_time) : std::string("null"));
  c.text("status", p.line, TextFrom::native);
  return c.close();
}

// The controller and the buffer's horizon; times in seconds since 1970.
void outlook_json(const Outlook& o, JsonObject& out) {
  out.boolean("controller_up", o.controller_up);
  out.raw("controller", controller_json(o));
  out.integer("units_waiting_to_compute", o.counts.to_compute);
  out.integer("units_waiting_to_send", o.counts.to_send);
  out.boolean("computing", o.counts.computing);
  out.number("unit_seconds_median", o.unit_seconds, o.unit_seconds >= 0);
  out.integer("computed_units_timed", o.samples);
  out.number("buffer_seconds_left", o.seconds_left, o.seconds_left >= 0);
  out.number("buffer_runs_dry_timestamp_seconds", static_cast<double>(o.runs_dry), o.runs_dry > 0);
  out.number("connect_window_opens_timestamp_seconds", static_cast<double>(o.window_opens), o.window_opens > 0);
  out.boolean("runs_dry_before_window", o.dry_before_window);
  out.number("last_connection_timestamp_seconds", static_cast<double>(o.last_connection), o.last_connection > 0);
}

}  // namespace

std::string format_json(const BufferStatus& status) {
  JsonObject out(JsonLayout::lines);
  out.integer("schema", 1);
  out.text("path", status.path, TextFrom::native);
  out.raw("client", folder_json(status.client));
  std::vector<std::string> units;
  for (const FolderStatus& f : status.units) units.push_back(folder_json(f));
  out.raw("units", json_list(units, JsonLayout::lines));
  std::vector<std::string> damaged;
  for (const std::string& name : status.damaged) damaged.push_back(json_string(name, TextFrom::native));
  out.raw("damaged", json_list(damaged, JsonLayout::one_line));
  out.boolean("clock_ahead", status.clock_ahead());
  out.raw("move", move_json(status.move));
  out.integer("units_waiting_for_work", static_cast<long long>(status.waiting_for_work.size()));
  outlook_json(status.outlook, out);
  return out.close();
}

}  // namespace vorcnt::vorstat
