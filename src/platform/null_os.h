// A seam that does nothing: commands succeed without running, pauses
// return at once, output is dropped. For the fuzz targets and benchmarks,
// where the outside world is not what is being exercised; the settings'
// notes format through its shell and clock.
#pragma once

#include <string>
#include <string_view>

#include "platform/os.h"

namespace vorcnt {

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

}  // namespace vorcnt
