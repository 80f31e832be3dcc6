// The connection window's arithmetic, as one table, and the wait across a
// change of the clocks.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "engine/connect_window.h"
#include "support/fakes.h"

namespace vorcnt {
namespace {

struct WindowRow {
  const char* name;
  const char* window;
  int hour, minute;
  bool inside;
  long long until_open;  // seconds by the wall clock
  friend void PrintTo(const WindowRow& row, std::ostream* out) { *out << row.name; }
};

class WindowTable : public ::testing::TestWithParam<WindowRow> {};

TEST_P(WindowTable, InsideOrTimeUntilItOpens) {
  const WindowRow& row = GetParam();
  ConnectWindow w;
  ASSERT_TRUE(parse_connect_window(row.window, &w));
  const LocalTime now = civil_time(row.hour * 3600 + row.minute * 60, 0);
  EXPECT_EQ(window_contains(w, row.hour * 60 + row.minute), row.inside);
  EXPECT_EQ(seconds_until_open(w, now), row.until_open);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WindowTable,
    ::testing::Values(WindowRow{"Inside", "09:00-17:00", 12, 0, true, 0},
                      WindowRow{"Before", "09:00-17:00", 8, 30, false, 1800},
                      WindowRow{"StartIsInside", "09:00-17:00", 9, 0, true, 0},
                      WindowRow{"EndIsOutside", "09:00-17:00", 17, 0, false, 16 * 3600},
                      WindowRow{"LastMinuteInside", "09:00-17:00", 16, 59, true, 0},
                      WindowRow{"AcrossMidnightLate", "23:00-08:00", 23, 30, true, 0},
                      WindowRow{"AcrossMidnightEarly", "23:00-08:00", 3, 0, true, 0},
                      WindowRow{"AcrossMidnightEnd", "23:00-08:00", 8, 0, false, 15 * 3600},
                      WindowRow{"AcrossMidnightMinuteBefore", "23:00-08:00", 22, 59, false, 60},
                      WindowRow{"EmptyWindowIsAlways", "10:00-10:00", 3, 0, true, 0},
                      WindowRow{"BlanksAroundTheDash", " 06:30 - 07:00 ", 6, 29, false, 60}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(WindowParse, RefusesAnythingButHoursAndMinutes) {
  for (const char* bad : {"", "9-17", "24:00-08:00", "09:60-10:00", "09:00-10:00x", "09:00", "123:00-01:00",
                          "09:00--10:00", "9:5-10:00", "6:30-07:00", "06:30-7:00"}) {
    ConnectWindow w{1, 2};
    EXPECT_FALSE(parse_connect_window(bad, &w)) << bad;
    EXPECT_EQ(w.start, 1) << bad;  // untouched
  }
}

// A spring-forward night: at 02:00 local (01:00 UTC) the clocks jump to
// 03:00. The window opens at 02:30, which that night never shows; waiting by
// the wall clock (1h30) would overshoot the real opening at 03:00.
TEST(WindowPause, StopsAtAClockChangeAndMeasuresAgain) {
  testing::FakeClock clock;
  const std::int64_t change = 20 * 365 * 86400LL + 3600;  // 01:00 UTC on some day
  clock.wall_start = change - 3600;                        // 01:00 local, UTC+1
  clock.offset_at = [change](std::int64_t utc) { return utc < change ? 3600 : 7200; };
  ConnectWindow w;
  ASSERT_TRUE(parse_connect_window("02:30-05:00", &w));

  EXPECT_EQ(window_pause(w, clock, 36000), 3600);
  clock.sleep_seconds(3600);
  const LocalTime after = clock.local_now();
  EXPECT_EQ(after.hour, 3);
  EXPECT_TRUE(window_contains(w, after.hour * 60 + after.minute));

  // Far from any change the pause is the time to the opening, or `time`.
  clock.offset_at = nullptr;
  clock.wall_start = 0;
  clock.now_seconds = 2 * 3600;  // 02:00
  EXPECT_EQ(window_pause(w, clock, 36000), 1800);
  EXPECT_EQ(window_pause(w, clock, 120), 120);
}

}  // namespace
}  // namespace vorcnt
