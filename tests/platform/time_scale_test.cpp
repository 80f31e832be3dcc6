// VORCNT_TIME_SCALE: a positive decimal, anything else means 1.
#include "platform/time_scale.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/os.h"
#include "platform/process_guards.h"
#include "support/fakes.h"

namespace vorcnt {
namespace {

using testing::ScopedEnv;

TEST(TimeScaleTest, OnlyAPositiveDecimalChangesTheScale) {
  struct Case {
    std::optional<std::string> text;
    double scale;
  } cases[] = {
      {std::nullopt, 1.0}, {"", 1.0},      {"0", 1.0},     {"-1", 1.0},      {"garbage", 1.0},
      {"2x", 1.0},         {"nan", 1.0},   {"inf", 1.0},   {"0.001", 0.001}, {"2", 2.0},
      {"1e-3", 0.001},     {" 0.5", 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.value_or("(unset)"));
    ScopedEnv env("VORCNT_TIME_SCALE", c.text);
    EXPECT_DOUBLE_EQ(time_scale(), c.scale);
  }
}

TEST(TimeScaleTest, PausesScaleToWholeMilliseconds) {
  const struct {
    std::optional<std::string> scale;
    double seconds;
    long long milliseconds;
  } cases[] = {{"0.001", 120, 120}, {"0.001", 36000, 36000}, {"0.001", 1, 1},
               {"0.001", 0, 0},     {std::nullopt, 120, 120000}, {std::nullopt, -5, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scale.value_or("(unset)") + " " + std::to_string(c.seconds));
    ScopedEnv env("VORCNT_TIME_SCALE", c.scale);
    EXPECT_EQ(scaled_milliseconds(c.seconds), c.milliseconds);
  }
  ScopedEnv env("VORCNT_TIME_SCALE", "1e300");
  EXPECT_GT(scaled_milliseconds(30), 0);  // huge but not wrapped negative
}

TEST(RealClockTest, FlushesTheConsoleBeforeEveryPause) {
  // Redirected output is held in blocks; a stop during a ten-hour pause must
  // not lose the lines printed before it.
  ScopedEnv env("VORCNT_TIME_SCALE", "0.001");
  testing::FakeConsole console;
  auto clock = make_real_clock(console);
  clock->sleep_seconds(0);
  clock->sleep_seconds(1);
  EXPECT_EQ(console.flushes, 2);
}

}  // namespace
}  // namespace vorcnt
