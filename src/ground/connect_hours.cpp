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

// "H:MM" or "HH:MM" at the front of `text`, consumed.
bool take_hhmm(std::string_view& text, int* minute) {
  int hour = 0;
  std::size_t i = 0;
  while (i < text.size() && i < 2 && is_digit(text[i])) hour = hour * 10 + (text[i++] - '0');
  if (i == 0 || i >= text.size() || text[i] != ':') return false;
  ++i;
  if (i + 2 > text.size() || !is_digit(text[i]) || !is_digit(text[i + 1])) return false;
  const int min = (text[i] - '0') * 10 + (text[i + 1] - '0');
  if (hour > 23 || min > 59) return false;
  text.remove_prefix(i + 2);
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
