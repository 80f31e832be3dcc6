#include "history_report.h"

#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "ground/context.h"
#include "platform/files.h"
#include "platform/null_os.h"

namespace vorcnt::vorstat {

namespace {

constexpr std::size_t kDefaultCount = 20;
constexpr char kHistoryUsage[] =
    "Usage: vorstat --history [FILE] [-n N] [--json]\n"
    "Prints the last N (default 20) events of the unit journal FILE, by default\n"
    "the HISTORY file of vorcnt.cfg in the current folder, with the units\n"
    "computed per day over the last 7 days, the last connection and how long the\n"
    "buffer lasts at the recent rate.\n";

std::int64_t days_from_civil(int y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::string date_of(const LocalTime& t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
  return buf;
}

std::string duration(double seconds) {
  char buf[32];
  const auto s = static_cast<long long>(seconds);
  if (s < 3600)
    std::snprintf(buf, sizeof buf, "%lldm", s / 60);
  else if (s < 86400)
    std::snprintf(buf, sizeof buf, "%lldh%02lldm", s / 3600, s % 3600 / 60);
  else
    std::snprintf(buf, sizeof buf, "%lldd%02lldh", s / 86400, s % 86400 / 3600);
  return buf;
}

// The journal is UTF-8 already; only what JSON forbids is escaped.
std::string json_text(const std::string& text) {
  std::string out = "\"";
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string json_real(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", value);
  return buf;
}

std::size_t first_shown(const HistorySummary& h, std::size_t last_n) {
  return h.events.size() > last_n ? h.events.size() - last_n : 0;
}

bool read_whole(const std::string& file, std::string* text) {
  const int handle = open_for_reading(file.c_str());
  if (handle < 0) return false;
  char chunk[16384];
  long n = 0;
  while ((n = read_some(handle, chunk, sizeof chunk)) > 0) text->append(chunk, static_cast<std::size_t>(n));
  close_handle(handle);
  return n == 0;
}

// The HISTORY file of vorcnt.cfg, read as the controller reads it.
std::string configured_history() {
  NullOs quiet;  // the settings are read without a word, and run nothing
  ControllerContext ctx;
  read_config_file(quiet.os, ctx);
  return ctx.history;
}

int usage(std::string& errors, const std::string& message) {
  errors += "vorstat: " + message + "\nUsage: vorstat --history [FILE] [-n N] [--json]\n";
  return 2;
}

}  // namespace

bool parse_iso8601(const std::string& text, std::int64_t* utc) {
  int y, mo, d, h, mi, s, oh, om;
  char sign;
  int used = 0;
  if (text.size() != 25 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &sign, &oh, &om,
                  &used) != 9 ||
      used != 25 || (sign != '+' && sign != '-') || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
      s > 60)
    return false;
  const std::int64_t offset = (sign == '-' ? -1 : 1) * (oh * 3600 + om * 60);
  *utc = days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s - offset;
  return true;
}

HistorySummary summarize_journal(const std::string& text, const LocalTime& now) {
  HistorySummary h;
  std::size_t start = 0;
  bool first = true;
  // A line without its line end is one being written: it is not counted. A
  // journal written on Windows ends its lines in CR LF.
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::size_t size = end > start && text[end - 1] == '\r' ? end - 1 - start : end - start;
    const std::string line = text.substr(start, size);
    if (first && line.rfind("time\t", 0) == 0) {
      first = false;
      continue;
    }
    first = false;
    if (line.empty()) continue;
    const std::vector<std::string> f = split_tabs(line);
    JournalEvent e;
    if (f.size() != 5 || !parse_iso8601(f[0], &e.utc)) {
      ++h.skipped;
      continue;
    }
    e.time = f[0];
    e.unit = f[1] == "-" ? -1 : std::atoi(f[1].c_str());
    e.event = f[2];
    e.identity = f[3];
    e.detail = f[4];
    h.events.push_back(std::move(e));
  }

  for (int k = 6; k >= 0; --k) h.per_day.emplace_back(date_of(civil_time(now.utc_seconds - k * 86400LL, now.offset_seconds)), 0);
  bool waiting[kMaxUnits] = {};
  int computed_recently = 0;
  std::int64_t earliest = now.utc_seconds;
  for (std::size_t i = 0; i < h.events.size(); ++i) {
    const JournalEvent& e = h.events[i];
    earliest = std::min(earliest, e.utc);
    const bool unit_ok = e.unit >= 0 && e.unit < kMaxUnits;
    if (e.event == "connected") {
      h.last_connection = static_cast<int>(i);
      if (unit_ok && e.detail.find("new_work=yes") != std::string::npos) waiting[e.unit] = true;
    } else if (e.event == "pop_compute" && unit_ok) {
      waiting[e.unit] = true;  // computed later, whatever the journal saw before
    } else if (e.event == "computed") {
      if (unit_ok) waiting[e.unit] = false;
      for (auto& [date, count] : h.per_day)
        if (e.time.compare(0, 10, date) == 0) ++count;
      if (now.utc_seconds - e.utc < 7 * 86400LL) ++computed_recently;
    }
  }
  for (bool w : waiting) h.units_waiting += w ? 1 : 0;
  // Over the last 7 days, or since the journal began when it is younger.
  const double span_days = std::min<double>(7.0, static_cast<double>(now.utc_seconds - earliest) / 86400.0);
  if (computed_recently > 0 && span_days > 0) {
    h.rate_per_day = computed_recently / span_days;
    h.lasts_seconds = h.units_waiting / h.rate_per_day * 86400.0;
  }
  return h;
}

std::string format_history_table(const HistorySummary& h, const std::string& file, std::size_t last_n) {
  std::string out = "History: " + file + " (" + std::to_string(h.events.size()) + " events";
  if (h.skipped > 0) out += ", " + std::to_string(h.skipped) + " unreadable lines skipped";
  out += ")\n";
  char row[512];
  std::snprintf(row, sizeof row, "%-25s %-4s %-13s %-12s %s\n", "time", "unit", "event", "identity", "detail");
  out += row;
  for (std::size_t i = first_shown(h, last_n); i < h.events.size(); ++i) {
    const JournalEvent& e = h.events[i];
    const std::string unit = e.unit < 0 ? "-" : std::to_string(e.unit);
    out += e.time + " " + unit + std::string(unit.size() < 4 ? 4 - unit.size() : 0, ' ') + " " + e.event +
           std::string(e.event.size() < 13 ? 13 - e.event.size() : 0, ' ') + " " + e.identity +
           std::string(e.identity.size() < 12 ? 12 - e.identity.size() : 0, ' ') + " " + e.detail + "\n";
  }
  out += "\nComputed per day:\n";
  for (const auto& [date, count] : h.per_day) out += "  " + date + "  " + std::to_string(count) + "\n";
  out += "Last connection: " + (h.last_connection >= 0 ? h.events[static_cast<std::size_t>(h.last_connection)].time : std::string("none recorded")) + "\n";
  out += "Units waiting to compute: " + std::to_string(h.units_waiting) + "\n";
  if (h.lasts_seconds < 0) {
    out += "Buffer lasts: unknown (nothing computed in the last 7 days)\n";
  } else {
    std::snprintf(row, sizeof row, "Buffer lasts: about %s at %.1f units per day\n", duration(h.lasts_seconds).c_str(),
                  h.rate_per_day);
    out += row;
  }
  return out;
}

std::string format_history_json(const HistorySummary& h, const std::string& file, std::size_t last_n) {
  std::string out = "{\n  \"file\": " + json_text(file) + ",\n  \"events\": [";
  const std::size_t from = first_shown(h, last_n);
  for (std::size_t i = from; i < h.events.size(); ++i) {
    const JournalEvent& e = h.events[i];
    out += i == from ? "\n    " : ",\n    ";
    out += "{\"time\": " + json_text(e.time) + ", \"unit\": " + (e.unit < 0 ? "null" : std::to_string(e.unit)) +
           ", \"event\": " + json_text(e.event) + ", \"identity\": " + json_text(e.identity) +
           ", \"detail\": " + json_text(e.detail) + "}";
  }
  out += from < h.events.size() ? "\n  ],\n" : "],\n";
  out += "  \"skipped_lines\": " + std::to_string(h.skipped) + ",\n  \"computed_per_day\": [";
  for (std::size_t i = 0; i < h.per_day.size(); ++i)
    out += std::string(i == 0 ? "" : ", ") + "{\"date\": " + json_text(h.per_day[i].first) +
           ", \"units\": " + std::to_string(h.per_day[i].second) + "}";
  out += "],\n  \"last_connection\": " + (h.last_connection >= 0 ? json_text(h.events[static_cast<std::size_t>(h.last_connection)].time) : "null");
  out += ",\n  \"units_waiting\": " + std::to_string(h.units_waiting);
  out += ",\n  \"rate_per_day\": " + (h.lasts_seconds < 0 ? std::string("null") : json_real(h.rate_per_day));
  out += ",\n  \"buffer_lasts_s\": " + (h.lasts_seconds < 0 ? std::string("null") : json_real(h.lasts_seconds));
  return out + "\n}\n";
}

bool wants_history(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) return false;
    if (std::strcmp(argv[i], "--history") == 0) return true;
  }
  return false;
}

int run_history(int argc, const char* const* argv, Console& out, std::string& errors, const LocalTime& now) {
  bool json = false;
  std::size_t count = kDefaultCount;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--history") continue;
    if (arg == "--json") {
      json = true;
    } else if (arg == "--help" || arg == "-h") {
      out.write(kHistoryUsage);
      return 0;
    } else if (arg == "-n") {
      if (i + 1 >= argc) return usage(errors, "-n needs a number");
      const std::string n = argv[++i];
      if (n.empty() || n.size() > 9 || n.find_first_not_of("0123456789") != std::string::npos)
        return usage(errors, "-n needs a number, not '" + n + "'");
      count = static_cast<std::size_t>(std::stoul(n));
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage(errors, "unknown option '" + arg + "'");
    } else if (!file.empty()) {
      return usage(errors, "give one journal only");
    } else if (arg.empty()) {
      return usage(errors, "the journal name is empty");
    } else {
      file = arg;
    }
  }
  if (file.empty()) file = configured_history();
  if (file.empty()) {
    errors += "vorstat: no journal given, and vorcnt.cfg in the current folder names no HISTORY file\n";
    return 1;
  }
  std::string text;
  if (!read_whole(file, &text)) {
    errors += "vorstat: cannot read the journal '" + file + "'\n";
    return 1;
  }
  const HistorySummary h = summarize_journal(text, now);
  out.write(json ? format_history_json(h, file, count) : format_history_table(h, file, count));
  return 0;
}

}  // namespace vorcnt::vorstat
