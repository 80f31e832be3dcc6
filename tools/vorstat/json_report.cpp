// The report as JSON (schema 1): ASCII only, every other character a \u
// escape of its Unicode value.
#include <cmath>
#include <cstdio>
#include <string_view>

#include "encoding.h"
#include "report_text.h"
#include "vorstat_report.h"

namespace vorcnt::vorstat {

namespace {

enum class Source { Cp932, Native };

// The folder names come from the file system: on POSIX normally UTF-8, so
// they are taken as such when they are valid UTF-8. The client's own texts are
// always code page 932.
std::string json_string(std::string_view text, Source source) {
  const std::string utf8 = source == Source::Native && is_valid_utf8(text) ? std::string(text) : cp932_to_utf8(text);
  std::string out = "\"";
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = next_code_point(utf8, pos);
    switch (cp) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (cp < 0x20 || (cp >= 0x7F && cp <= 0xFFFF)) {
          appendf(out, "\\u%04x", static_cast<unsigned>(cp));
        } else if (cp > 0xFFFF) {
          const char32_t v = cp - 0x10000;
          appendf(out, "\\u%04x\\u%04x", static_cast<unsigned>(0xD800 + (v >> 10)),
                  static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
        } else {
          out += static_cast<char>(cp);
        }
    }
  }
  out += '"';
  return out;
}

// JSON has no NaN or infinity; a state file can still say prog=inf.
std::string json_number(double value) {
  if (!std::isfinite(value)) return "null";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  std::string out = buf;
  if (out.find_first_of(".e") == std::string::npos) out += ".0";
  return out;
}

class JsonObject {
 public:
  void field(const char* name, const std::string& json_value) {
    out_ += first_ ? "{" : ", ";
    first_ = false;
    out_ += '"';
    out_ += name;
    out_ += "\": ";
    out_ += json_value;
  }
  void text(const char* name, const char* value) { field(name, json_string(value, Source::Cp932)); }
  void integer(const char* name, long long value) { field(name, std::to_string(value)); }
  void boolean(const char* name, bool value) { field(name, value ? "true" : "false"); }
  std::string close() { return first_ ? "{}" : out_ + "}"; }

 private:
  std::string out_;
  bool first_ = true;
};

std::string folder_json(const FolderStatus& f) {
  const ClientSnapshot& s = f.snap;
  JsonObject o;
  if (f.unit >= 0) o.integer("unit", f.unit);
  // The folder's own name, without the separator added for the readers.
  o.field("folder", json_string(std::string_view(f.folder).substr(0, f.folder.size() - 1), Source::Native));
  o.field("ext", json_string(ext_of(s), Source::Cp932));
  o.integer("state", f.report.data_state);
  o.field("state_name", json_string(data_state_name(f.report.data_state), Source::Cp932));
  o.field("progress", json_number(f.report.progress));
  o.field("cpu", s.state_status == 1 ? "null" : json_number(s.cpu));
  o.integer("work_unit_status", s.work_unit_status);
  o.field("work_unit_age_s", f.work_unit_dated ? std::to_string(f.work_unit_age) : "null");
  if (f.unit < 0) o.field("files_unchanged_s", f.files_dated ? std::to_string(f.files_unchanged) : "null");
  o.boolean("result", s.result_present == 1);
  o.boolean("outfile", s.outfile_present == 1);
  o.boolean("in_transition", f.in_transition);
  if (f.user_info_file) {
    // The account key is left out on purpose: a status report gets pasted
    // into messages, and the key is not needed to read the buffer's state.
    o.text("id", s.id);
    o.text("email_addr", s.email_addr);
    o.text("name", s.name);
    o.text("url", s.url);
    o.text("country", s.country);
    o.text("postal_code", s.postal_code);
    o.text("show_name", s.show_name);
    o.text("show_email", s.show_email);
    o.text("venue", s.venue);
    o.text("register_time", s.register_time);
    o.text("last_wu_time", s.last_wu_time);
    o.text("last_result_time", s.last_result_time);
    o.integer("nwus", s.nwus);
    o.integer("nresults", s.nresults);
    o.field("total_cpu", json_number(s.total_cpu));
    o.integer("params_index", s.params_index);
  }
  return o.close();
}

std::string or_null(bool known, double value) { return known ? json_number(value) : "null"; }

// The controller and the buffer's horizon; times in seconds since 1970.
std::string outlook_json(const Outlook& o) {
  const PublishedStatus& p = o.published;
  std::string out = "  \"controller_up\": " + std::string(o.controller_up ? "true" : "false");
  out += ",\n  \"controller\": ";
  if (!o.status_file) {
    out += "null";
  } else {
    out += "{\"pid\": " + std::to_string(p.pid) + ", \"started\": " + std::to_string(p.started) +
           ", \"changed\": " + std::to_string(p.changed) + ", \"state\": " + json_string(p.state, Source::Native) +
           ", \"unit\": " + (p.unit < 0 ? std::string("null") : std::to_string(p.unit)) +
           ", \"progress\": " + or_null(p.progress >= 0, p.progress) + ", \"waiting_for\": " +
           json_string(p.wait, Source::Native) + ", \"wait_time\": " +
           (p.wait_time > 0 ? std::to_string(p.wait_time) : std::string("null")) +
           ", \"status\": " + json_string(p.line, Source::Native) + "}";
  }
  out += ",\n  \"units_waiting_to_compute\": " + std::to_string(o.counts.to_compute);
  out += ",\n  \"units_waiting_to_send\": " + std::to_string(o.counts.to_send);
  out += ",\n  \"computing\": " + std::string(o.counts.computing ? "true" : "false");
  out += ",\n  \"unit_seconds_median\": " + or_null(o.unit_seconds >= 0, o.unit_seconds);
  out += ",\n  \"computed_units_timed\": " + std::to_string(o.samples);
  out += ",\n  \"buffer_seconds_left\": " + or_null(o.seconds_left >= 0, o.seconds_left);
  out += ",\n  \"buffer_runs_dry_timestamp_seconds\": " + or_null(o.runs_dry > 0, static_cast<double>(o.runs_dry));
  out += ",\n  \"connect_window_opens_timestamp_seconds\": " +
         or_null(o.window_opens > 0, static_cast<double>(o.window_opens));
  out += ",\n  \"runs_dry_before_window\": " + std::string(o.dry_before_window ? "true" : "false");
  out += ",\n  \"last_connection_timestamp_seconds\": " +
         or_null(o.last_connection > 0, static_cast<double>(o.last_connection));
  return out;
}

}  // namespace

std::string format_json(const BufferStatus& status) {
  std::string out = "{\n  \"schema\": 1,\n  \"path\": " + json_string(status.path, Source::Native) + ",\n";
  out += "  \"client\": " + folder_json(status.client) + ",\n";
  out += "  \"units\": [";
  for (std::size_t i = 0; i < status.units.size(); ++i) {
    out += i == 0 ? "\n    " : ",\n    ";
    out += folder_json(status.units[i]);
  }
  out += status.units.empty() ? "],\n" : "\n  ],\n";
  out += "  \"damaged\": [";
  for (std::size_t i = 0; i < status.damaged.size(); ++i)
    out += (i == 0 ? "" : ", ") + json_string(status.damaged[i], Source::Native);
  out += std::string("],\n  \"clock_ahead\": ") + (status.clock_ahead() ? "true" : "false");
  out += ",\n  \"move\": ";
  const MoveStatus& move = status.move;
  if (move.state == MoveStatus::State::none) {
    out += "null";
  } else if (move.state == MoveStatus::State::unreadable || move.state == MoveStatus::State::cut_short) {
    out += std::string("{\"state\": \"") + (move.state == MoveStatus::State::cut_short ? "cut_short" : "unreadable") +
           "\", \"problem\": " + json_string(move.problem, Source::Cp932) + "}";
  } else {
    out += std::string("{\"state\": \"") + (move.state == MoveStatus::State::under_way ? "under_way" : "interrupted") +
           "\", \"direction\": \"" + (move.push ? "push" : "pop") + "\", \"unit\": " + std::to_string(move.unit) +
           ", \"files\": " + std::to_string(move.files) + "}";
  }
  out += ",\n  \"units_waiting_for_work\": " + std::to_string(status.waiting_for_work.size());
  out += ",\n" + outlook_json(status.outlook);
  out += "\n}\n";
  return out;
}

}  // namespace vorcnt::vorstat
