#include "history_report.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>

#include "config/settings.h"
#include "ground/context.h"
#include "platform/files.h"
#include "engine/connect_window.h"
#include "engine/history.h"
#include "json_writer.h"
#include "platform/console.h"
#include "platform/language.h"
#include "report_text.h"
#include "vorstat_report.h"

namespace vorcnt::vorstat {

namespace {

constexpr std::size_t kDefaultCount = 20;
constexpr char kHistoryUsage[] = N_(
    "Usage: vorstat --history [FILE] [-n N] [--json]\n"
    "Prints the last N (default 20) events of the unit journal FILE, by default\n"
    "the HISTORY file of vorcnt.cfg in the current folder, with the units\n"
    "computed per day over the last 7 days, the last connection and how long the\n"
    "buffer lasts at the recent rate.\n");

std::int64_t days_from_civil(int y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::string date_of(const LocalTime& t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
  return buf;
}

// A line longer than any the controller writes is no event; it is skipped
// without being held whole.
constexpr std::size_t kMaxLine = 4096;

int two_digits(std::string_view t, std::size_t at) {
  const char a = t[at], b = t[at + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
  return (a - '0') * 10 + (b - '0');
}

// The unit field as the controller writes it: "-" or a number.
int unit_of(std::string_view field) {
  if (field.starts_with("-")) return -1;
  int unit = 0;
  for (char c : field) {
    if (c < '0' || c > '9' || unit > 100000) break;
    unit = unit * 10 + (c - '0');
  }
  return unit;
}

// The five tab-separated fields of a line and its time; false when it has
// another number of fields or its time is malformed.
struct Fields {
  std::string_view f[5];
  std::int64_t utc = 0;
};
bool split_line(std::string_view line, Fields* out) {
  // A journal written on Windows ends its lines in CR LF.
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::size_t at = 0;
  for (int i = 0; i < 5; ++i) {
    const std::size_t tab = line.find('\t', at);
    if ((tab == std::string_view::npos) != (i == 4)) return false;
    out->f[i] = line.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at);
    at = tab + 1;
  }
  return parse_iso8601(out->f[0], &out->utc);
}

JournalEvent event_of(const Fields& f) {
  JournalEvent e;
  e.time = f.f[0];
  e.utc = f.utc;
  e.unit = unit_of(f.f[1]);
  e.event = f.f[2];
  e.identity = f.f[3];
  e.detail = f.f[4];
  return e;
}

// The seconds that `key` ("wall=1234.5") gives in a detail, in the form the
// controller writes (digits, a point, a digit); false when absent, in
// another form (a sign, an exponent, "nan", "inf") or beyond credence.
bool detail_seconds(std::string_view detail, std::string_view key, double* out) {
  for (std::size_t at = 0; at <= detail.size();) {
    std::size_t end = detail.find(' ', at);
    if (end == std::string_view::npos) end = detail.size();
    const std::string_view word = detail.substr(at, end - at);
    at = end + 1;
    if (word.size() <= key.size() || !word.starts_with(key) || word[key.size()] != '=') continue;
    const std::string_view value = word.substr(key.size() + 1);
    const std::size_t point = value.find('.');
    const std::string_view whole = value.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? "0" : value.substr(point + 1);
    const auto digits = [](std::string_view t) {
      return !t.empty() && t.size() <= 12 && t.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (!digits(whole) || !digits(fraction)) return false;
    const double seconds = std::strtod(std::string(value).c_str(), nullptr);
    if (!credible_seconds(seconds)) return false;
    *out = seconds;
    return true;
  }
  return false;
}

// The figures of the whole journal, fed one line at a time.
class Tally {
 public:
  Tally(HistorySummary& h, const LocalTime& now) : h_(h), now_(now), earliest_(now.utc_seconds) {
    for (int k = 6; k >= 0; --k)
      h_.per_day.emplace_back(date_of(civil_time(now.utc_seconds - k * 86400LL, now.offset_seconds)), 0);
  }

  void unreadable() { ++h_.skipped; }
  // `first` for the file's first line, which may be the header.
  void line(std::string_view text, bool first) {
    if (first && text.starts_with("time\t")) return;
    if (text.empty()) return;
    Fields f;
    if (text.size() > kMaxLine || !split_line(text, &f)) {
      ++h_.skipped;
      return;
    }
    ++h_.total_events;
    earliest_ = std::min(earliest_, f.utc);
    const int unit = unit_of(f.f[1]);
    const bool unit_ok = unit >= 0 && unit < kMaxUnits;
    const std::string_view event = f.f[2];
    if (event == "connected") {
      h_.last_connection.assign(f.f[0]);
      h_.last_connection_utc = f.utc;
      if (unit_ok && f.f[4].find("new_work=yes") != std::string_view::npos) waiting_[unit] = true;
    } else if (event == "pop_compute" && unit_ok) {
      waiting_[unit] = true;  // computed later, whatever the journal saw before
    } else if (event == "computed") {
      if (unit_ok) waiting_[unit] = false;
      took(f.f[4]);
      for (auto& [date, count] : h_.per_day)
        if (f.f[0].substr(0, 10) == date) ++count;
      if (now_.utc_seconds - f.utc < 7 * 86400LL) ++computed_recently_;
    }
  }

  void finish() {
    for (bool w : waiting_) h_.units_waiting += w ? 1 : 0;
    // Over the last 7 days, or since the journal began when it is younger;
    // a journal younger than a day counts as a day, so that a young one
    // neither divides by nothing nor claims a pace it has not shown.
    const double span_days = std::clamp(static_cast<double>(now_.utc_seconds - earliest_) / 86400.0, 1.0, 7.0);
    h_.computed_recently = computed_recently_;
    h_.rate_per_day = static_cast<double>(computed_recently_) / span_days;
  }

 private:
  HistorySummary& h_;
  const LocalTime& now_;
  std::int64_t earliest_;
  // How long the client computed a unit, as its detail gives it; a unit
  // without a credible figure is left out.
  void took(std::string_view detail) {
    double seconds = 0;
    if (!detail_seconds(detail, "wall", &seconds) || !(seconds > 0)) return;
    if (h_.unit_seconds.size() == kUnitsTimed) h_.unit_seconds.erase(h_.unit_seconds.begin());
    h_.unit_seconds.push_back(seconds);
  }

  static constexpr std::size_t kUnitsTimed = 20;
  bool waiting_[kMaxUnits] = {};
  long long computed_recently_ = 0;
};

// Every whole line of the first `size` bytes, in order. A line without its
// line end is one being written: it is not fed.
bool stream_lines(JournalBytes& bytes, std::uint64_t size, std::size_t block, Tally& tally) {
  std::vector<char> buf(block);
  std::string carry;  // the start of a line that goes on in the next block
  bool overlong = false, first = true;
  for (std::uint64_t at = 0; at < size;) {
    const long n = bytes.read_at(at, buf.data(), static_cast<std::size_t>(std::min<std::uint64_t>(block, size - at)));
    if (n <= 0) return false;
    at += static_cast<std::uint64_t>(n);
    std::string_view rest(buf.data(), static_cast<std::size_t>(n));
    for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1)) {
      if (overlong) {
        tally.unreadable();
      } else if (carry.empty()) {
        tally.line(rest.substr(0, end), first);
      } else {
        carry.append(rest.substr(0, end));
        tally.line(carry, first);
      }
      carry.clear();
      overlong = false;
      first = false;
    }
    if (!overlong) carry.append(rest);
    if (carry.size() > kMaxLine) {
      carry.clear();
      overlong = true;
    }
  }
  return true;
}

// The last `count` well-formed events of the first `size` bytes, read from
// the end, oldest first.
bool last_events(JournalBytes& bytes, std::uint64_t size, std::size_t block, std::size_t count,
                 std::vector<JournalEvent>* events) {
  std::vector<char> buf(block);
  std::string pending;     // the part of a line read so far (its end), when it spans blocks
  bool overlong = false;   // that line is too long to be an event
  bool past_tail = false;  // a line end has been seen: what follows it was a line being written
  auto take = [&](std::string_view line, bool first) {
    if (overlong || line.empty() || line.size() > kMaxLine || (first && line.starts_with("time\t"))) return;
    Fields f;
    if (split_line(line, &f)) events->push_back(event_of(f));
  };
  std::uint64_t at = size;
  while (at > 0 && events->size() < count) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block, at));
    at -= n;
    if (bytes.read_at(at, buf.data(), n) != static_cast<long>(n)) return false;
    std::string_view data(buf.data(), n);
    for (std::size_t nl; events->size() < count && (nl = data.rfind('\n')) != std::string_view::npos;
         data.remove_suffix(data.size() - nl)) {
      if (past_tail) {
        if (pending.empty())
          take(data.substr(nl + 1), false);
        else
          take(std::string(data.substr(nl + 1)) + pending, false);
      }
      past_tail = true;
      pending.clear();
      overlong = false;
    }
    if (events->size() >= count || !past_tail) continue;
    if (!overlong && pending.size() + data.size() <= kMaxLine)
      pending.insert(0, data);
    else
      overlong = true, pending.clear();
  }
  if (at == 0 && past_tail && events->size() < count) take(pending, true);
  std::reverse(events->begin(), events->end());
  return true;
}

// The journal file, read through a stream that can seek; only a regular file
// (a FIFO would block, a device never end).
class JournalFile final : public JournalBytes {
 public:
  explicit JournalFile(const std::string& path) {
    if (is_regular_file(native_path(path.c_str()))) in_.open(native_path(path.c_str()), std::ios::binary);
  }
  bool is_open() const { return in_.is_open(); }
  std::uint64_t size() override {
    in_.seekg(0, std::ios::end);
    const std::streamoff end = in_.tellg();
    return end < 0 ? 0 : static_cast<std::uint64_t>(end);
  }
  long read_at(std::uint64_t offset, char* buf, std::size_t n) override {
    in_.clear();
    if (!in_.seekg(static_cast<std::streamoff>(offset))) return -1;
    in_.read(buf, static_cast<std::streamsize>(n));
    if (in_.bad()) return -1;
    return static_cast<long>(in_.gcount());
  }

 private:
  std::ifstream in_;
};

// The settings of vorcnt.cfg, read as the controller reads them, without a word.
ControllerContext configured() {
  ControllerContext ctx;
  SettingsNotes unsaid;
  read_config_file(ctx, unsaid);
  return ctx;
}

// The progress of the unit the client computes now; NaN when none does.
double client_progress(const BufferStatus& status) {
  const double progress = status.client.report.progress;
  return status.client.report.data_state == Data_Calculation && credible_progress(progress)
             ? progress
             : std::numeric_limits<double>::quiet_NaN();
}

// The horizon from the buffer as it stands when its folders can be read;
// else from what the journal saw refilled and not yet computed.
Outlook history_outlook(const HistorySummary& h, const ControllerContext& ctx, Clock& clock, std::int64_t now) {
  BufferCounts counts;
  counts.to_compute = h.units_waiting;
  const std::string path = ctx.path_refused ? std::string() : ctx.path[0] == '\0' ? "./" : std::string(ctx.path);
  const bool readable = !path.empty() && look_at_client_folder(path).kind == Sight::Kind::seen;
  BufferStatus status;
  if (readable) {
    status = read_buffer_status(path, now);
    counts = count_buffer(status);
  }
  Outlook o = make_outlook(counts, h.unit_seconds, window_of(ctx), h.last_connection_utc, clock, now);
  if (readable) read_controller(path, client_progress(status), clock, &o);
  return o;
}

int usage(Console& errors, const std::string& line, std::initializer_list<std::string_view> shown = {}) {
  say(errors, line, shown);
  errors.write(tr("Usage: vorstat --history [FILE] [-n N] [--json]\n"));
  return 2;
}

}  // namespace

bool parse_iso8601(std::string_view text, std::int64_t* utc) {
  // YYYY-MM-DDTHH:MM:SS+HH:MM, every digit where it belongs.
  if (text.size() != 25 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || (text[19] != '+' && text[19] != '-') || text[22] != ':')
    return false;
  const int y1 = two_digits(text, 0), y2 = two_digits(text, 2), mo = two_digits(text, 5), d = two_digits(text, 8);
  const int h = two_digits(text, 11), mi = two_digits(text, 14), s = two_digits(text, 17);
  const int oh = two_digits(text, 20), om = two_digits(text, 23);
  if (y1 < 0 || y2 < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 ||
      s > 60 || oh < 0 || om < 0)
    return false;
  const std::int64_t offset = (text[19] == '-' ? -1 : 1) * (oh * 3600 + om * 60);
  *utc = days_from_civil(y1 * 100 + y2, mo, d) * 86400 + h * 3600 + mi * 60 + s - offset;
  return true;
}

bool summarize_journal(JournalBytes& bytes, std::size_t last_n, const LocalTime& now, HistorySummary* out,
                       std::size_t block) {
  HistorySummary h;
  const std::uint64_t size = bytes.size();
  Tally tally(h, now);
  if (!stream_lines(bytes, size, block, tally)) return false;
  tally.finish();
  if (last_n > 0 && !last_events(bytes, size, block, last_n, &h.events)) return false;
  *out = std::move(h);
  return true;
}

std::vector<std::string> history_pieces(const HistorySummary& h, const Outlook& outlook, const std::string& file) {
  Pieces pieces;
  // The journal's name is the user's: it reaches the terminal unchanged.
  if (h.skipped > 0)
    pieces.showing(format_text(N_("History: %s (%lld events, %lld unreadable lines skipped)\n"), kVerbatim,
                               h.total_events, h.skipped),
                   {printable(file)});
  else
    pieces.showing(format_text(N_("History: %s (%lld events)\n"), kVerbatim, h.total_events), {printable(file)});
  // TRANSLATORS: the heading of the journal's events; the names of its
  // columns, which the journal's own header spells time, unit, event,
  // identity and detail.
  std::string out = tr("time                      unit event         identity     detail\n");
  for (const JournalEvent& e : h.events) {
    const std::string unit = e.unit < 0 ? "-" : std::to_string(e.unit);
    // A corrupt journal's control bytes never reach the terminal raw.
    const std::string event = printable(e.event), identity = printable(e.identity);
    out += printable(e.time) + " " + unit + std::string(unit.size() < 4 ? 4 - unit.size() : 0, ' ') + " " + event +
           std::string(event.size() < 13 ? 13 - event.size() : 0, ' ') + " " + identity +
           std::string(identity.size() < 12 ? 12 - identity.size() : 0, ' ') + " " + printable(e.detail) + "\n";
  }
  out += tr("\nComputed per day:\n");
  for (const auto& [date, count] : h.per_day) out += "  " + date + "  " + std::to_string(count) + "\n";
  if (h.last_connection.empty())
    out += tr("Last connection: none recorded\n");
  else
    appendf(out, tr("Last connection: %s\n"), printable(h.last_connection).c_str());
  const BufferCounts& c = outlook.counts;
  if (c.computing)
    appendf(out, tr("Units waiting to compute: %d and 1 computing\n"), c.to_compute);
  else
    appendf(out, tr("Units waiting to compute: %d\n"), c.to_compute);
  appendf(out, tr("Units done and waiting to send: %d\n"), c.to_send);
  if (h.computed_recently == 0)
    out += tr("Computed in the last 7 days: none\n");
  else
    appendf(out, tr("Computed in the last 7 days: %lld (%.1f per day)\n"), h.computed_recently, h.rate_per_day);
  appendf(out, tr("Buffer: %s\n"), horizon_text(outlook).c_str());
  pieces.write(out);
  return pieces.all();
}

std::string format_history_table(const HistorySummary& h, const Outlook& outlook, const std::string& file) {
  std::string out;
  for (const std::string& piece : history_pieces(h, outlook, file)) out += piece;
  return out;
}

std::string format_history_json(const HistorySummary& h, const Outlook& outlook, const std::string& file) {
  // The same schema number as the buffer report: a change to either that a
  // reader would notice raises both.
  JsonObject out(JsonLayout::lines);
  out.integer("schema", 1);
  out.text("file", file, TextFrom::native);
  std::vector<std::string> events;
  for (const JournalEvent& e : h.events) {
    JsonObject o;
    o.text("time", e.time, TextFrom::utf8);
    o.raw("unit", e.unit < 0 ? std::string("null") : std::to_string(e.unit));
    o.text("event", e.event, TextFrom::utf8);
    o.text("identity", e.identity, TextFrom::utf8);
    o.text("detail", e.detail, TextFrom::utf8);
    events.push_back(o.close());
  }
  out.raw("events", json_list(events, JsonLayout::lines));
  out.integer("skipped_lines", h.skipped);
  std::vector<std::string> days;
  for (const auto& [date, count] : h.per_day)
    days.push_back(JsonObject().text("date", date, TextFrom::utf8).integer("units", count).close());
  out.raw("computed_per_day", json_list(days, JsonLayout::one_line));
  out.raw("last_connection",
          h.last_connection.empty() ? std::string("null") : json_string(h.last_connection, TextFrom::utf8));
  out.integer("units_waiting", outlook.counts.to_compute);
  out.integer("units_waiting_to_send", outlook.counts.to_send);
  out.boolean("computing", outlook.counts.computing);
  out.fixed("rate_per_day", h.rate_per_day, 3, h.computed_recently != 0);
  out.fixed("unit_seconds_median", outlook.unit_seconds, 3, outlook.unit_seconds >= 0);
  out.fixed("buffer_lasts_s", outlook.seconds_left, 3, outlook.seconds_left >= 0);  // the key readers of schema 1 know
  out.fixed("buffer_seconds_left", outlook.seconds_left, 3, outlook.seconds_left >= 0);  // the same figure
  out.boolean("runs_dry_before_window", outlook.dry_before_window);
  return out.close();
}

bool summarize_journal_file(const std::string& file, const LocalTime& now, HistorySummary* out) {
  JournalFile journal(file);
  return journal.is_open() && summarize_journal(journal, 0, now, out);
}

Outlook buffer_outlook(const BufferStatus& status, Clock& clock, std::int64_t now) {
  const ControllerContext ctx = configured();
  HistorySummary h;
  if (ctx.history[0] != '\0') (void)summarize_journal_file(ctx.history, clock.local_time(now), &h);
  Outlook o = make_outlook(count_buffer(status), h.unit_seconds, window_of(ctx), h.last_connection_utc, clock, now);
  read_controller(status.path, client_progress(status), clock, &o);
  return o;
}

bool wants_history(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) return false;
    if (std::strcmp(argv[i], "--history") == 0) return true;
  }
  return false;
}

int run_history(int argc, const char* const* argv, Console& out, Console& errors, Clock& clock, std::int64_t now) {
  bool json = false;
  std::size_t count = kDefaultCount;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--history") continue;
    if (arg == "--json") {
      json = true;
    } else if (arg == "--help" || arg == "-h") {
      out.write(tr(kHistoryUsage));
      return 0;
    } else if (arg == "-n") {
      if (i + 1 >= argc) return usage(errors, tr("vorstat: -n needs a number\n"));
      const std::string n = argv[++i];
      if (n.empty() || n.size() > 9 || n.find_first_not_of("0123456789") != std::string::npos)
        return usage(errors, format_text(N_("vorstat: -n needs a number, not '%s'\n"), kVerbatim), {printable(n)});
      count = static_cast<std::size_t>(std::stoul(n));
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage(errors, format_text(N_("vorstat: unknown option '%s'\n"), kVerbatim), {printable(arg)});
    } else if (!file.empty()) {
      return usage(errors, tr("vorstat: give one journal only\n"));
    } else if (arg.empty()) {
      return usage(errors, tr("vorstat: the journal name is empty\n"));
    } else {
      file = arg;
    }
  }
  const ControllerContext ctx = configured();
  if (file.empty()) file = ctx.history;
  if (file.empty()) {
    errors.write(tr("vorstat: no journal given, and vorcnt.cfg in the current folder names no HISTORY file\n"));
    return 1;
  }
  JournalFile journal(file);
  HistorySummary h;
  if (!journal.is_open() || !summarize_journal(journal, count, clock.local_time(now), &h)) {
    say(errors, format_text(N_("vorstat: cannot read the journal '%s'\n"), kVerbatim), {printable(file)});
    return 1;
  }
  const Outlook outlook = history_outlook(h, ctx, clock, now);
  if (json) {
    out.write(format_history_json(h, outlook, file));
  } else {
    write_pieces(history_pieces(h, outlook, file), out);
  }
  return 0;
}

}  // namespace vorcnt::vorstat
