// The session lock on Linux: two controllers meet when their user and their
// temporary folder's name agree, whether or not that folder exists or is the
// same folder; a name squatted by someone else is never taken for another
// controller, and a lock file of the user's own stands in for it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/process_guards.h"
#include "platform/session_lock.h"
#include "support/scratch.h"

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
// It holds the name while the object lives.
class Squatter {
 public:
  Squatter(const std::string& tmpdir, std::optional<uid_t> uid) {
    const std::string name = "vorcnt-" + std::to_string(::getuid()) + "-" + session_key(tmpdir);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    int ready[2];
    if (::pipe(ready) != 0) return;
    child_ = ::fork();
    if (child_ == 0) {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      const bool bound = (!uid || ::setuid(*uid) == 0) && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), size) == 0 &&
                         (!uid || ::listen(fd, 1) == 0);
      (void)!::write(ready[1], bound ? "y" : "n", 1);
      ::pause();
      ::_exit(0);
    }
    char answer = 'n';
    if (child_ > 0) (void)!::read(ready[0], &answer, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ok = answer == 'y';
    shown = "@" + name;
  }
  ~Squatter() { leave(); }
  void leave() {
    if (child_ <= 0) return;
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
    child_ = -1;
  }
  bool ok = false;
  std::string shown;

 private:
  pid_t child_ = -1;
};

// The home folder a row gives: its ".vorcnt" as it is to be found.
enum class Home { usable, missing, link, open_to_others };

struct SquatRow {
  const char* name;
  Home home;
  std::string problem;  // after the name; "" when a lock file stands in, "%h" the home folder
};

TEST(SessionLockTest, ASquattedNameGivesWayToALockFileOfTheUsersOwn) {
  const SquatRow rows[] = {
      {"own folder", Home::usable, ""},
      {"no home", Home::missing, "; no lock file of this user's own stands in for it (%h/.vorcnt: No such file or directory)"},
      {"link", Home::link, "; no lock file of this user's own stands in for it (%h/.vorcnt: Not a directory)"},
      {"open to others", Home::open_to_others,
       "; no lock file of this user's own stands in for it (%h/.vorcnt is not a folder of this user's own with mode 0700)"},
  };
  std::vector<std::pair<std::optional<uid_t>, std::string>> squatters = {{std::nullopt, " is taken by a program that is not vorcnt"}};
  if (::geteuid() == 0) squatters.push_back({65534, " is taken by user id 65534"});
  for (const auto& [uid, taken_by] : squatters) {
    for (const SquatRow& row : rows) {
      SCOPED_TRACE(std::string(row.name) + taken_by);
      testing::ScratchDir scratch;
      const std::string home = scratch.path() + "home";
      if (row.home != Home::missing) scratch.mkdir("home");
      if (row.home == Home::link) {
        scratch.mkdir("elsewhere");
        ::chmod((scratch.path() + "elsewhere").c_str(), 0700);
        ASSERT_EQ(::symlink((scratch.path() + "elsewhere").c_str(), (home + "/.vorcnt").c_str()), 0);
      }
      if (row.home == Home::open_to_others) {
        scratch.mkdir("home/.vorcnt");
        ::chmod((home + "/.vorcnt").c_str(), 0777);
      }
      ScopedEnv env_home("HOME", home);
      ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
      const std::string tmpdir = "/nonexistent/vorcnt-squat-" + std::to_string(::getpid()) + row.name;
      ScopedEnv env_tmp("TMPDIR", tmpdir);
      Squatter squatter(tmpdir, uid);
      ASSERT_TRUE(squatter.ok) << "the squatter could not take the name";
      SessionLock first;
      if (!row.problem.empty()) {
        EXPECT_EQ(first.take(), Outcome::unavailable);
        std::string problem = row.problem;
        problem.replace(problem.find("%h"), 2, home);
        EXPECT_EQ(first.problem(), squatter.shown + taken_by + problem);
        continue;
      }
      ASSERT_EQ(first.take(), Outcome::taken) << first.problem();
      SessionLock second;
      EXPECT_EQ(second.take(), Outcome::held) << second.problem();
      // Gone, the squatter frees the name; a start then takes it, and still
      // meets the controller that began without it.
      squatter.leave();
      SessionLock third;
      EXPECT_EQ(third.take(), Outcome::held) << third.problem();
    }
  }
}

}  // namespace
}  // namespace vorcnt
