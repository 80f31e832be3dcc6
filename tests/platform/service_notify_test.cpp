// The service manager's socket, stood in for by a datagram socket of our
// own; and the advisory file written through a rename, never through a link.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/process_guards.h"
#include "platform/service_notify.h"
#include "support/scratch.h"

namespace vorcnt {
namespace {

using testing::ScopedEnv;

// A bound datagram socket; `name` as NOTIFY_SOCKET gives it.
struct Listener {
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  explicit Listener(const std::string& name) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, name.data(), name.size());
    if (name[0] == '@') addr.sun_path[0] = '\0';
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), length), 0) << name;
  }
  ~Listener() { ::close(fd); }
  std::string next() {
    char buf[256];
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    return n < 0 ? "(none)" : std::string(buf, static_cast<std::size_t>(n));
  }
};

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
  // A link at the name itself is refused.
  ASSERT_EQ(::unlink(file.c_str()), 0);
  ASSERT_EQ(::symlink((dir.path() + "target").c_str(), file.c_str()), 0);
  EXPECT_FALSE(replace_small_file(file, "four\n").ok());
  EXPECT_EQ(dir.read("target"), "keep");
}

}  // namespace
}  // namespace vorcnt
