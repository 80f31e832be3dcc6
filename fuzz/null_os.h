// A seam that does nothing, for fuzz targets that only read settings.
#pragma once

#include <string>
#include <string_view>

#include "platform/os.h"

namespace vorcnt::fuzzing {

class NullShell final : public Shell {
 public:
  int run(const std::string&) override { return 0; }
};
class NullClock final : public Clock {
 public:
  void sleep_seconds(int) override {}
};
class NullConsole final : public Console {
 public:
  void write(std::string_view) override {}
  void flush() override {}
};

struct NullOs {
  NullShell shell;
  NullClock clock;
  NullConsole console;
  Os os{shell, clock, console};
};

}  // namespace vorcnt::fuzzing
