// The service manager's socket, stood in for by a datagram socket of our
// own; and the advisory file written through a rename, never through a link
// (a link at its name: the table of CommandTest.NothingIsDoneThroughALinkAtTheName).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/process_guards.h"
#include "platform/service_notify.h"
#include "support/fakes.h"
#include "support/notify_listener.h"
#include "support/scratch.h"

namespace vorcnt {
namespace {

using testing::ScopedEnv;

using Listener = testing::NotifyListener;

TEST(ServiceNotifier, OneDatagramPerMessageToAPathOrAnAbstractName) {
  testing::ScratchDir dir;
  for (const std::string& name : {"@vorcnt-notify-test-" + std::to_string(::getpid()), dir.path() + "notify"}) {
    SCOPED_TRACE(name);
    Listener listener(name);
    ScopedEnv socket("NOTIFY_SOCKET", name);
    ScopedEnv usec("WATCHDOG_USEC", std::string("3000000"));
    ScopedEnv pid("WATCHDOG_PID", std::nullopt);
    ServiceNotifier notifier;
    ASSERT_TRUE(notifier.active());
    EXPECT_EQ(notifier.ping_interval_ms(), 1000);
    notifier.send("READY=1");
    notifier.send("STATUS=computing unit3 (45 %)");
    EXPECT_EQ(listener.next(), "READY=1");
    EXPECT_EQ(listener.next(), "STATUS=computing unit3 (45 %)");
    EXPECT_EQ(listener.next(), "(none)");
  }
}

// No socket: nothing is sent and no pause is cut. A watchdog meant for
// another process, or a bad value, is no watchdog of ours.
TEST(ServiceNotifier, WithoutItsSocketOrWithAnotherProcessesWatchdogItStaysQuiet) {
  const struct {
    const char* socket;
    const char* usec;
    std::string pid;
    bool active;
    long long ping_ms;
  } rows[] = {{nullptr, "3000000", "", false, 0},
              {"relative/name", "3000000", "", false, 0},
              {"@vorcnt-x", "3000000", "1", true, 0},
              {"@vorcnt-x", "3000000", std::to_string(::getpid()), true, 1000},
              {"@vorcnt-x", "3s", "", true, 0}};
  for (const auto& row : rows) {
    ScopedEnv socket("NOTIFY_SOCKET", row.socket ? std::optional<std::string>(row.socket) : std::nullopt);
    ScopedEnv usec("WATCHDOG_USEC", std::string(row.usec));
    ScopedEnv pid("WATCHDOG_PID", row.pid.empty() ? std::nullopt : std::optional<std::string>(row.pid));
    ServiceNotifier notifier;
    EXPECT_EQ(notifier.active(), row.active) << (row.socket ? row.socket : "unset");
    EXPECT_EQ(notifier.ping_interval_ms(), row.ping_ms) << row.usec << " " << row.pid;
  }
}

// The watchdog hears from a pause all through it, one far longer than its
// period too: TIME = 36000 against a WatchdogSec of ten minutes, both scaled
// down 20000 times (1.8 s against 30 ms). At least two pings reach it in
// each period, none held back for the pause's end.
TEST(PingingClock, PingsAllThroughAPauseFarLongerThanTheWatchdogsPeriod) {
  const std::string name = "@vorcnt-ping-test-" + std::to_string(::getpid());
  Listener listener(name);
  ScopedEnv socket("NOTIFY_SOCKET", name);
  ScopedEnv usec("WATCHDOG_USEC", std::string("30000"));
  ScopedEnv pid("WATCHDOG_PID", std::nullopt);
  ScopedEnv scale("VORCNT_TIME_SCALE", std::string("0.00005"));
  std::vector<double> pings;  // when each was sent
  std::thread reader([&] {
    for (double at = 0; listener.next_timed(&at) == "WATCHDOG=1";) pings.push_back(at);
  });
  {
    ServiceNotifier notifier;
    testing::FakeClock inner;
    const auto clock = make_pinging_clock(inner, notifier);
    clock->sleep_seconds(36000);
    notifier.send("end");
  }
  reader.join();
  const double pause = 36000 * 0.00005, period = 600 * 0.00005;
  ASSERT_GE(pings.size(), 2u);
  EXPECT_GE(pings.size(), static_cast<std::size_t>(2 * pause / period) + 1);
  EXPECT_GE(pings.back() - pings.front(), pause);
  // A busy machine may stretch a gap past the period; a quarter of the
  // pause is what a ping kept back would leave.
  double gap = 0;
  for (std::size_t i = 1; i < pings.size(); ++i) gap = std::max(gap, pings[i] - pings[i - 1]);
  EXPECT_LT(gap, pause / 4);
}

TEST(ReplaceSmallFile, ReplacesWholeAndNeverWritesThroughALink) {
  testing::ScratchDir dir;
  const std::string file = dir.path() + "vorcnt.status";
  ASSERT_TRUE(replace_small_file(file, "one\n").ok());
  ASSERT_TRUE(replace_small_file(file, "two\n").ok());
  EXPECT_EQ(dir.read("vorcnt.status"), "two\n");
  // A link left at the temporary name goes; what it points at stays.
  dir.write("target", "keep");
  ASSERT_EQ(::symlink((dir.path() + "target").c_str(), (file + ".new").c_str()), 0);
  ASSERT_TRUE(replace_small_file(file, "three\n").ok());
  EXPECT_EQ(dir.read("target"), "keep");
  EXPECT_EQ(dir.read("vorcnt.status"), "three\n");
  EXPECT_FALSE(dir.exists("vorcnt.status.new"));
}

}  // namespace
}  // namespace vorcnt
