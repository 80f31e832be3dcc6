// The log: each console line copied with its local time, in UTF-8; the
// console unchanged; a new file at the limit; never written through a link,
// and a fault said once when it begins and once when it clears.
#include "platform/log_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/console.h"
#include "support/fakes.h"
#include "support/scratch.h"

namespace vorcnt {
namespace {

constexpr LogConsole::Texts kTexts{"log: cannot write %s (%s)\n", "log: %s is written again\n"};

struct LogWorld {
  testing::ScratchDir dir;
  testing::FakeOs f;
  std::string path = dir.path() + "run.log";
  LogWorld() {
    f.clock.wall_start = 1796652202;  // 2026-12-07 14:03:22 UTC
    f.clock.offset_at = [](std::int64_t) { return 9 * 3600; };
  }
  std::string read(const std::string& name) const { return dir.read(name); }
};

TEST(LogConsoleTest, EveryLineWithItsTimeInUtf8AndTheConsoleUnchanged) {
  LogWorld w;
  {
    LogConsole log(w.f.console, w.f.clock, w.path, kTexts);
    Os os{w.f.shell, w.f.clock, log, w.f.disk};
    print(os, "[Unit%d] Data\x8c\x76\x8e\x5a\x8a\x4a\x8e\x6e\n", 0);  // 計算開始
    w.f.clock.now_seconds = 61;
    print_showing(os, "/srv/ボランティア/", "path:%s\nexec", kVerbatim);
    print(os, "finish:\n");
    print(os, "no line end");
  }
  EXPECT_EQ(w.f.console.output,
            "[Unit0] Data\x8c\x76\x8e\x5a\x8a\x4a\x8e\x6e\npath:/srv/ボランティア/\nexecfinish:\nno line end");
  EXPECT_EQ(w.read("run.log"),
            "2026-12-07 23:03:22 [Unit0] Data計算開始\n"
            "2026-12-07 23:04:23 path:/srv/ボランティア/\n"
            "2026-12-07 23:04:23 execfinish:\n"
            "2026-12-07 23:04:23 no line end\n");
}

TEST(LogConsoleTest, AtTheLimitTheFileBecomesFileDot1AndStartsAgain) {
  LogWorld w;
  w.dir.write("run.log.1", "older\n");
  LogConsole log(w.f.console, w.f.clock, w.path, kTexts, 70);
  log.write("first line\nsecond line\nthird line\n");
  EXPECT_EQ(w.read("run.log.1"), "2026-12-07 23:03:22 first line\n2026-12-07 23:03:22 second line\n");
  EXPECT_EQ(w.read("run.log"), "2026-12-07 23:03:22 third line\n");
}

// A link is never followed, to a file elsewhere nor as a second name.
TEST(LogConsoleTest, ALinkIsRefusedOnceAndTheFixIsSaidOnce) {
  for (const bool hard : {false, true}) {
    LogWorld w;
    w.dir.write("elsewhere", "");
    const std::string target = w.dir.path() + "elsewhere";
    ASSERT_EQ(hard ? ::link(target.c_str(), w.path.c_str()) : ::symlink(target.c_str(), w.path.c_str()), 0);
    LogConsole log(w.f.console, w.f.clock, w.path, kTexts);
    log.write("one\ntwo\n");
    ASSERT_EQ(::unlink(w.path.c_str()), 0);
    log.write("three\n");
    EXPECT_EQ(w.f.console.output, "one\ntwo\nlog: cannot write " + w.path + " (it is a link)\nthree\nlog: " + w.path +
                                      " is written again\n");
    EXPECT_EQ(w.read("elsewhere"), "");
    EXPECT_EQ(w.read("run.log"), "2026-12-07 23:03:22 three\n2026-12-07 23:03:22 log: " + w.path + " is written again\n");
  }
}

}  // namespace
}  // namespace vorcnt
