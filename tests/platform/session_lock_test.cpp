// The session lock on Linux: two controllers meet when their user and their
// temporary folder's name agree, whether or not that folder exists or is the
// same folder; a name squatted by someone else is said, never taken for
// another controller.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>

#include "platform/process_guards.h"
#include "platform/session_lock.h"

namespace vorcnt {
namespace {

using testing::ScopedEnv;
using Outcome = SessionLock::Outcome;

struct Meeting {
  const char* name;
  std::optional<std::string> first_tmpdir, second_tmpdir;
  Outcome second;
};

TEST(SessionLockTest, ControllersMeetByUserAndTemporaryFolderName) {
  const std::string unique = "/nonexistent/vorcnt-session-test-" + std::to_string(::getpid());
  const Meeting rows[] = {
      {"same name", unique, unique, Outcome::held},
      {"trailing separator", unique, unique + "/", Outcome::held},
      {"another name", unique, unique + "-other", Outcome::taken},
      // A service's private /tmp and a shell's /tmp are both "/tmp".
      {"unset is /tmp", std::nullopt, "/tmp", Outcome::held},
      {"empty is /tmp", std::string(), "/tmp", Outcome::held},
  };
  for (const Meeting& row : rows) {
    SCOPED_TRACE(row.name);
    SessionLock first;
    {
      ScopedEnv tmpdir("TMPDIR", row.first_tmpdir);
      ASSERT_EQ(first.take(), Outcome::taken) << first.problem();
    }
    ScopedEnv tmpdir("TMPDIR", row.second_tmpdir);
    SessionLock second;
    EXPECT_EQ(second.take(), row.second) << second.problem();
  }
  // Gone with its holder.
  ScopedEnv tmpdir("TMPDIR", unique);
  SessionLock again;
  EXPECT_EQ(again.take(), Outcome::taken);
}

// Binds the session's name as a program that is not a controller would,
// without listening; as `uid` when given (a child process that drops to it).
void squat(const std::string& tmpdir, std::optional<uid_t> uid, const std::string& expected) {
  const std::string name = "vorcnt-" + std::to_string(::getuid()) + "-" + session_key(tmpdir);
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool ok = (!uid || ::setuid(*uid) == 0) && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), size) == 0 &&
                    (!uid || ::listen(fd, 1) == 0);
    (void)!::write(ready[1], ok ? "y" : "n", 1);
    ::pause();
    ::_exit(0);
  }
  char answer = 'n';
  (void)!::read(ready[0], &answer, 1);
  ::close(ready[0]);
  ::close(ready[1]);
  if (answer == 'y') {
    ScopedEnv env("TMPDIR", tmpdir);
    SessionLock lock;
    EXPECT_EQ(lock.take(), Outcome::unavailable);
    EXPECT_EQ(lock.problem(), "@" + name + expected);
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ASSERT_EQ(answer, 'y') << "the squatter could not take the name";
}

TEST(SessionLockTest, ASquattedNameIsSaidNeverTakenForAController) {
  const std::string tmpdir = "/nonexistent/vorcnt-squat-" + std::to_string(::getpid());
  squat(tmpdir, std::nullopt, " is taken by a program that is not vorcnt");
  if (::geteuid() != 0) GTEST_SKIP() << "another user's squatter needs root to play that user";
  squat(tmpdir + "-user", 65534, " is taken by user id 65534");
}

}  // namespace
}  // namespace vorcnt
