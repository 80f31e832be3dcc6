// The connection window as text: parsed from the settings, printed in the
// dump and in the wait line.
#include "ground/connect_hours.h"

#include <cstdio>

namespace vorcnt {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

void skip_spaces(std::string_view& text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
}

// "HH:MM" at the front of `text`, consumed. Two digits each, as documented:
// "8:00" is refused like any other malformed window rather than guessed at.
bool take_hhmm(std::string_view& text, int* minute) {
  if (text.size() < 5 || !is_digit(text[0]) || !is_digit(text[1]) || text[2] != ':' || !is_digit(text[3]) ||
      !is_digit(text[4]))
    return false;
  const int hour = (text[0] - '0') * 10 + (text[1] - '0');
  const int min = (text[3] - '0') * 10 + (text[4] - '0');
  if (hour > 23 || min > 59) return false;
  text.remove_prefix(5);
  *minute = hour * 60 + min;
  return true;
}

}  // namespace

bool parse_connect_window(std::string_view text, ConnectWindow* out) {
  ConnectWindow w;
  skip_spaces(text);
  if (!take_hhmm(text, &w.start)) return false;
  skip_spaces(text);
  if (text.empty() || text.front() != '-') return false;
  text.remove_prefix(1);
  skip_spaces(text);
  if (!take_hhmm(text, &w.end)) return false;
  skip_spaces(text);
  if (!text.empty()) return false;
  *out = w;
  return true;
}

std::string format_hhmm(int minute) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d:%02d", (minute / 60) % 24, minute % 60);
  return buf;
}

bool window_contains(const ConnectWindow& w, int minute_of_day) {
  if (!window_set(w) || w.start == w.end) return true;
  if (w.start < w.end) return minute_of_day >= w.start && minute_of_day < w.end;
  return minute_of_day >= w.start || minute_of_day < w.end;  // across midnight
}

}  // namespace vorcnt
