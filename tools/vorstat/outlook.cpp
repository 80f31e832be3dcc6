#include "outlook.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "engine/connect_window.h"
#include "engine/history.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/language.h"
#include "report_text.h"

namespace vorcnt::vorstat {

namespace {

constexpr std::size_t kLastComputed = 20;
// Every unit of a full buffer at the longest credible pace.
constexpr double kLongestHorizon = (kMaxUnits + 1) * kLongestCredibleSeconds;

std::string local_text(Clock& clock, std::int64_t utc) {
  if (utc <= 0) return std::string();
  const LocalTime t = clock.local_time(utc);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
  return buf;
}

// The status file: small, a regular file only (a FIFO must not block us).
std::string read_small_file(const std::string& name) {
  const int h = open_for_reading(name.c_str());
  if (h < 0) return std::string();
  std::string text;
  char buf[1024];
  for (long n; text.size() < 8192 && (n = read_some(h, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  close_handle(h);
  return text;
}

// True when `line` is what `format` prints (its only conversions %d,
// %02d and %%), with at most three numbers, put in `numbers`.
bool matches_format(std::string_view line, const char* format, int numbers[3]) {
  int n = 0;
  std::size_t at = 0;
  for (const char* f = format; *f != '\0'; ++f) {
    if (*f != '%' || f[1] == '%') {
      if (at >= line.size() || line[at] != *f) return false;
      ++at;
      if (*f == '%') ++f;
      continue;
    }
    while (*f != 'd' && f[1] != '\0') ++f;  // the flags and width of %02d
    const std::size_t start = at;
    long value = 0;
    while (at < line.size() && at - start < 9 && line[at] >= '0' && line[at] <= '9') value = value * 10 + (line[at++] - '0');
    if (at == start || n == 3) return false;
    numbers[n++] = static_cast<int>(value);
  }
  return at == line.size();
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
// `format`, a translation of one of the controller's lines, with its numbers;
// a format uses those it names, in order.
void appendf_numbers(std::string& out, const char* format, const int numbers[3]) {
  appendf(out, format, numbers[0], numbers[1], numbers[2]);
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace

double median_unit_seconds(const std::vector<double>& durations, int* samples) {
  // Only what a computation can take counts: a corrupt figure would move the
  // median, or make it infinite.
  std::vector<double> last;
  for (auto d = durations.rbegin(); d != durations.rend() && last.size() < kLastComputed; ++d)
    if (*d > 0 && credible_seconds(*d)) last.push_back(*d);
  const std::size_t n = last.size();
  *samples = static_cast<int>(n);
  if (n < static_cast<std::size_t>(kMinComputedUnits)) return -1;
  std::sort(last.begin(), last.end());
  return n % 2 == 1 ? last[n / 2] : (last[n / 2 - 1] + last[n / 2]) / 2;
}

Outlook make_outlook(const BufferCounts& counts, const std::vector<double>& durations, const ConnectWindow& window,
                     std::int64_t last_connection, Clock& clock, std::int64_t now) {
  Outlook o;
  o.last_connection = last_connection;
  o.last_connection_text = local_text(clock, last_connection);
  o.counts = counts;
  o.unit_seconds = median_unit_seconds(durations, &o.samples);
  if (counts.moving)
    o.seconds_left = -1;  // a unit left out of the counts: no figure rather than a wrong one
  else if (counts.to_compute == 0 && !counts.computing)
    o.seconds_left = 0;  // dry already, whatever the pace
  else if (o.unit_seconds >= 0)
    o.seconds_left = (counts.to_compute + counts.running_left) * o.unit_seconds;
  // Credible durations keep it within years; anything else is no figure,
  // and whole seconds are taken only of what fits.
  if (!(o.seconds_left <= kLongestHorizon)) o.seconds_left = -1;
  if (o.seconds_left >= 0) o.runs_dry = now + static_cast<std::int64_t>(o.seconds_left + 0.5);
  if (window_set(window)) {
    const std::int64_t until = seconds_until_open(window, clock.local_time(now));
    if (until > 0) o.window_opens = now + until;
  }
  o.dry_before_window = o.window_opens > 0 && o.seconds_left >= 0 && o.runs_dry < o.window_opens;
  o.runs_dry_text = local_text(clock, o.runs_dry);
  o.window_opens_text = local_text(clock, o.window_opens);
  return o;
}

void read_controller(const std::string& path, double client_progress, Clock& clock, Outlook* o) {
  o->controller_up = controller_at_work(path.c_str());
  o->status_file = parse_status_file(read_small_file(path_in(path, kStatusFileName)), &o->published);
  if (!o->status_file) return;
  // The file changes with the controller's state, not with each step of the
  // client: the progress of a unit computing is the client's own, read now,
  // or not known; never the file's, which was true only when it was written.
  if (o->published.wait == "client_computing")
    o->published.progress = std::isfinite(client_progress) ? client_progress : -1;
  o->published.line = published_line(o->published, client_progress);
  o->last_connection = std::max(o->last_connection, o->published.last_connection);
  o->last_connection_text = local_text(clock, o->last_connection);
  o->started_text = local_text(clock, o->published.started);
  o->changed_text = local_text(clock, o->published.changed);
}

std::string horizon_text(const Outlook& o) {
  if (o.seconds_left == 0) return tr("no work left to compute: the buffer has run dry");
  // A move no controller makes any more waits for the next start to settle it.
  if (o.counts.moving && !o.controller_up)
    return tr("a move was cut short: how long the work lasts is told once the next start has settled it");
  if (o.counts.moving) return tr("a move is under way: how long the work lasts is told once it has settled");
  if (o.unit_seconds < 0) return tr("not enough computed units yet to tell how long the work lasts");
  if (o.seconds_left < 0 || o.runs_dry_text.empty()) return tr("how long the work lasts is unknown");
  if (o.dry_before_window)
    return format_text(N_("work for about %s; the buffer runs dry about %s, before the connection window opens (%s)"),
                       duration(o.seconds_left).c_str(), o.runs_dry_text.c_str(), o.window_opens_text.c_str());
  return format_text(N_("work for about %s; the buffer runs dry about %s"), duration(o.seconds_left).c_str(),
                     o.runs_dry_text.c_str());
}

const char* status_format_of(std::string_view line, int numbers[3]) {
  // The controller's lines (its status_line()), which its file keeps in
  // English for every reader.
  static const char* const kLines[] = {
      N_("computing unit%d"),
      N_("computing unit%d (%d %%)"),
      N_("connecting unit%d"),
      N_("starting the client for unit%d"),
      N_("starting a connection for unit%d"),
      N_("storing unit%d"),
      N_("stopped"),
      N_("waiting for the connection window (opens %02d:%02d)"),
      N_("no work for unit%d until %02d:%02d"),
      N_("retrying a failed pop of unit%d since %02d:%02d"),
      N_("retrying a failed move of unit%d since %02d:%02d"),
  };
  for (const char* english : kLines)
    if (matches_format(line, english, numbers)) return english;
  return nullptr;
}

std::string status_words(const std::string& line) {
  int numbers[3] = {};
  const char* english = status_format_of(line, numbers);
  // A line from another version is shown as it is, and so is every line
  // without a translation: byte for byte the file's.
  if (english == nullptr || std::strcmp(tr(english), english) == 0) return printable(line);
  std::string out;
  appendf_numbers(out, tr(english), numbers);
  return out;
}

std::string controller_text(const Outlook& o) {
  const PublishedStatus& p = o.published;
  if (!o.controller_up) {
    if (!o.status_file) return tr("controller: not running");
    return format_text(N_("controller: not running (last seen %s)"), o.changed_text.c_str());
  }
  if (!o.status_file) return tr("controller: running");
  return format_text(N_("controller: running (pid %d) since %s, %s"), p.pid, o.started_text.c_str(),
                     status_words(p.line).c_str());
}

std::string outlook_lines(const Outlook& o) {
  std::string out = controller_text(o) + "\n";
  if (o.counts.computing)
    appendf(out, tr("units: %d waiting to compute and 1 computing, %d done and waiting to send\n"), o.counts.to_compute,
            o.counts.to_send);
  else
    appendf(out, tr("units: %d waiting to compute, %d done and waiting to send\n"), o.counts.to_compute, o.counts.to_send);
  out += horizon_text(o) + "\n";
  if (o.last_connection_text.empty())
    out += tr("last connection: none recorded\n");
  else
    appendf(out, tr("last connection: %s\n"), o.last_connection_text.c_str());
  return out;
}

}  // namespace vorcnt::vorstat
