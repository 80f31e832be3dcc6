// The POSIX command layer against real scratch folders and real programs.
#include "platform/posix_commands.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/work_wait.h"
#include "ground/messages.h"
#include "platform/disk.h"
#include "platform/files.h"
#include "platform/journal_file.h"
#include "platform/log_file.h"
#include "platform/process_guards.h"
#include "platform/stop_posix.h"
#include "support/fakes.h"
#include "support/scratch.h"

namespace vorcnt {
namespace {

using testing::Capture;
using testing::ScopedCwd;
using testing::ScopedEnv;
using testing::ScratchDir;
namespace fs = std::filesystem;

// Runs a command with its stderr (and stdout) kept out of the test log.
struct Ran {
  int status;
  std::string out;
  std::string err;
};
Ran run(const std::string& line) {
  Capture out(1);
  Capture err(2);
  int status = run_posix_command(line);
  return {status, out.text(), err.text()};
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::int64_t mtime_of(const std::string& path) {
  std::int64_t t = -1;
  EXPECT_TRUE(file_mtime(path.c_str(), &t)) << path;
  return t;
}

// A folder laid out like a client folder with one work unit in it.
class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    p = s.path();
    s.write("work_unit.vwu", "work unit data");
    s.write("state.vwu", "prog=0.5\n");
    s.write("notes.txt", "left alone");
    s.set_mtime("work_unit.vwu", 1000000000);
    s.set_mtime("state.vwu", 1100000000);
  }
  ScratchDir s;
  std::string p;
};

TEST_F(CommandTest, PushCopiesIntoUnitFolderKeepingNamesAndTimes) {
  ASSERT_EQ(run("mkdir " + p + "unit3").status, 0);
  Ran r = run("copy " + p + "*.vwu " + p + "unit3");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "        2 file(s) copied.\n");
  // Nothing else (no temporary file, no .txt file) lands in the unit folder.
  EXPECT_EQ(names_in(p + "unit3"), (std::vector<std::string>{"state.vwu", "work_unit.vwu"}));
  EXPECT_EQ(s.read("unit3/work_unit.vwu"), "work unit data");
  EXPECT_EQ(s.read("unit3/state.vwu"), "prog=0.5\n");
  EXPECT_EQ(mtime_of(p + "unit3/work_unit.vwu"), 1000000000);
  EXPECT_EQ(mtime_of(p + "unit3/state.vwu"), 1100000000);
  EXPECT_TRUE(s.exists("work_unit.vwu"));  // a copy, not a move

  EXPECT_EQ(run("del " + p + "*.vwu").status, 0);
  EXPECT_EQ(names_in(p), (std::vector<std::string>{"notes.txt", "unit3"}));
}

TEST_F(CommandTest, TemporariesOfAStoppedCopyAreClearedButNotThoseOfARunningOne) {
  // A process that has ended stands for a copy stopped mid-file.
  pid_t gone = ::fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  s.mkdir("unit3");
  const std::string stale = ".vorcnt-copy-" + std::to_string(gone) + "-0.tmp";
  const std::string running = ".vorcnt-copy-1-0.tmp";  // pid 1 is always alive
  s.write("unit3/" + stale, "half a work unit");
  s.write("unit3/" + running, "being written");

  Ran r = run("copy " + p + "*.vwu " + p + "unit3");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(names_in(p + "unit3"), (std::vector<std::string>{running, "state.vwu", "work_unit.vwu"}));

  // A folder is swept once a run, but one made anew in its place (the same
  // inode, often) is a folder of its own.
  fs::remove_all(p + "unit3");
  s.mkdir("unit3");
  s.write("unit3/" + stale, "half a work unit");
  EXPECT_EQ(run("copy " + p + "*.vwu " + p + "unit3").status, 0);
  EXPECT_EQ(names_in(p + "unit3"), (std::vector<std::string>{"state.vwu", "work_unit.vwu"}));

  // A process the copying user may not signal (kill answers EPERM) is alive.
  fs::remove_all(p + "unit3");
  s.mkdir("unit3");
  s.write("unit3/" + running, "being written");
  fs::permissions(p, fs::perms::all);
  fs::permissions(p + "unit3", fs::perms::all);
  const int kept = testing::as_plain_user([&] {
    if (::kill(1, 0) == 0 || errno != EPERM) return 2;
    return run("copy " + p + "*.vwu " + p + "unit3").status == 0 && fs::exists(p + "unit3/" + running) ? 0 : 1;
  });
  EXPECT_EQ(kept, 0) << "2: pid 1 could be signalled, -1: no plain user to run as";
}

TEST_F(CommandTest, PopTakesBackslashesAndAFolderWithoutTrailingSeparator) {
  s.mkdir("unit3");
  s.write("unit3/result.vwu", "result");
  s.set_mtime("unit3/result.vwu", 1200000000);
  s.write("unit3/work_unit.vwu", "newer data");
  std::string client = p.substr(0, p.size() - 1);

  Ran r = run("copy " + p + "unit3\\*.vwu " + client);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(s.read("result.vwu"), "result");
  EXPECT_EQ(s.read("work_unit.vwu"), "newer data");  // replaced the older one
  EXPECT_EQ(mtime_of(p + "result.vwu"), 1200000000);

  EXPECT_EQ(run("del " + p + "unit3\\*.vwu").status, 0);
  EXPECT_TRUE(names_in(p + "unit3").empty());
}

TEST_F(CommandTest, OneFileCopiesToANewName) {
  s.mkdir("out");
  Ran r = run("copy " + p + "work_unit.vwu " + p + "out\\renamed.bin");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(s.read("out/renamed.bin"), "work unit data");
  EXPECT_EQ(mtime_of(p + "out/renamed.bin"), 1000000000);

  // A pattern with a single match does the same; an existing file is replaced.
  r = run("copy " + p + "w*.vwu " + p + "out/renamed.bin");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(names_in(p + "out"), std::vector<std::string>{"renamed.bin"});
}

// The other ways of naming what to copy and where: exactly those files land.
TEST_F(CommandTest, CopyLinesAndWhatLandsWhere) {
  for (const char* folder : {"here", "out", "to", "u"}) s.mkdir(folder);
  s.write("my unit/a.vwu", "x");
  ScopedCwd cwd(p + "here");
  const struct {
    std::string line;
    const char* dest;
    std::vector<std::string> names;
  } cases[] = {
      {"copy " + p + " " + p + "out", "out", {"notes.txt", "state.vwu", "work_unit.vwu"}},  // its folders are not
      {"copy " + p + "*.vwu", "here", {"state.vwu", "work_unit.vwu"}},  // no destination: the current folder
      {"copy \"" + p + "my unit\\*.vwu\" " + p + "to", "to", {"a.vwu"}},  // quotes group a name with blanks
      {"COPY /Y " + p + "notes.txt " + p + "u", "u", {"notes.txt"}},  // any case, switches ignored
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Ran r = run(c.line);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(names_in(p + c.dest), c.names);
  }
}

// Lines that cannot be carried out fail, print nothing on stdout, and leave
// every file and folder as it was: several files never merge into one, a file
// is never copied onto itself, a folder is never emptied by del.
TEST_F(CommandTest, RefusedLinesChangeNothing) {
  ASSERT_EQ(run("MkDir " + p + "a\\b\\c").status, 0);
  ASSERT_TRUE(is_directory((p + "a/b/c").c_str()));
  for (const char* folder : {"unit0", "out"}) s.mkdir(folder);
  s.write("elsewhere/target.dat", "keep me");
  s.write("full/a.vwu", "x");
  s.write("b/x.vwu", "x");
  const auto before = s.tree();
  const std::string huge(100000, 'x');
  const struct {
    std::string line;
    std::string err_has;
  } cases[] = {
      {"copy " + p + "*.vwu " + p + "missing", "nothing copied"},
      {"copy " + p + "*.vwu " + p + "elsewhere/target.dat", "nothing copied"},
      {"copy " + p + "*.vwu " + p + "elsewhere\\new.vwu", "nothing copied"},
      {"copy " + p + "*.vwu " + p + "missing/", "nothing copied"},
      {"copy " + p + "*.vwu " + p, "are the same folder; nothing copied"},
      {"copy " + p + "state.vwu " + p + "state.vwu", "state.vwu cannot be copied onto itself"},
      // An empty folder is the usual case, said as one, with the system's separators.
      {"copy " + p + "unit0\\*.vwu " + p + "out", "copy: " + p + "unit0 holds no *.vwu file: nothing copied\n"},
      {"copy " + p + "absent\\*.vwu " + p + "out", "copy: no file matches " + p + "absent/*.vwu: nothing copied\n"},
      {"del " + p + "unit0\\*.vwu", "del: " + p + "unit0 holds no *.vwu file: nothing deleted\n"},
      {"del " + p + "absent.vwu", "del: no file matches "},
      {"del " + p + "full", "full is a folder; name the files to delete"},
      {"del " + p + "?\\x.vwu", ""},  // a wildcard in a folder name is not expanded
      {"del " + p + "work_unit.vwu > " + p + "log", "del: redirections and command chains are not"},  // redirection is not taken as a name
      {"mkdir " + p + "unit0", "exists"},
      {"mkdir " + p + "a\\b\\c", "exists"},
      {"mkdir " + p + "notes.txt", "notes.txt already exists"},
      {"copy", "copy: give one source and at most one destination\n"},
      {"del", "del: name the files to delete\n"},
      {"mkdir", "mkdir: name the folder to create\n"},
      {"copy " + p + huge + "\\*.vwu " + p, ""},
      {"copy " + p + huge + " " + p, ""},
      {"del " + p + huge, ""},
      {"mkdir " + p + huge, "x: File name too long\n"},  // the command, the name, the reason
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 200));
    Ran r = run(c.line);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(s.tree(), before);
  }
}

TEST_F(CommandTest, DelActsOnEveryPatternThatMatchesButNeverOnFolders) {
  s.write("unit0/a.vwu", "x");
  EXPECT_NE(run("del " + p + "state.vwu " + p + "nothing*.vwu").status, 0);
  EXPECT_FALSE(s.exists("state.vwu"));  // the pattern that matched still acted
  EXPECT_EQ(run("del /Q " + p + "work_unit.vwu").status, 0);
  EXPECT_FALSE(s.exists("work_unit.vwu"));
  EXPECT_EQ(run("Del " + p + "*").status, 0);
  EXPECT_EQ(names_in(p), std::vector<std::string>{"unit0"});
  EXPECT_TRUE(s.exists("unit0/a.vwu"));
}

// A link planted at a name the controller writes, renames or removes,
// pointing at a file or at nothing: the operation is refused, nothing is
// made or changed where the link points, and the link stays.
struct LinkRow {
  const char* name;
  const char* at;       // the planted name, in the client folder
  bool hard = false;    // a second name of the outside file instead of a symbolic link
  std::function<bool()> refused;  // true when the operation failed
};

TEST_F(CommandTest, NothingIsDoneThroughALinkAtTheName) {
  const auto loop = [](const Status& st) { return st.error() == ELOOP; };
  testing::FakeOs fake;
  const LinkRow rows[] = {
      {"MoveRecord", "vorcnt.move", false, [&] { return loop(real_disk().write_file(p + "vorcnt.move", "x")); }},
      {"PopOutputFile", "outfile.vwu", false, [&] { return loop(real_disk().write_file(p + "outfile.vwu", "")); }},
      {"MoveRecordSecondName", "vorcnt.move", true,
       [&] { return loop(real_disk().write_file(p + "vorcnt.move", "x")); }},
      {"Journal", "units.tsv", false, [&] { return loop(append_journal_line((p + "units.tsv").c_str(), "h\n", "l\n")); }},
      {"Log", "run.log", false,
       [&] {
         LogConsole log(fake.console, fake.clock, p + "run.log", {msg::kLogWriteFailed, msg::kLogWriteResumed});
         log.write("a line\n");
         return fake.console.output.find("(it is a link)") != std::string::npos;
       }},
      {"StatusFile", "vorcnt.status", false, [&] { return loop(replace_small_file(p + "vorcnt.status", "x")); }},
      {"WaitsFile", "vorcnt.nowork", false, [&] { return !write_work_waits(real_disk(), p.c_str(), WorkWaits{}).ok(); }},
      {"Remove", "result.vwu", false, [&] { return loop(real_disk().remove(p + "result.vwu")); }},
      {"RenameFrom", "result.vwu", false, [&] { return loop(real_disk().rename(p + "result.vwu", p + "moved")); }},
      {"MetricsFileRenameOnto", "m.prom", false,
       [&] { return loop(real_disk().rename(p + "notes.txt", p + "m.prom")); }},
      {"CopyBack", "result.vwu", false, [&] { return !real_disk().copy_new(p + "work_unit.vwu", p + "result.vwu").ok(); }},
      {"CopyDestination", "unit0/work_unit.vwu", false,
       [&] { return run("copy " + p + "*.vwu " + p + "unit0").status != 0; }},
      {"DamagedFolder", "damaged", false, [&] { return loop(real_disk().make_folders(p + "damaged")); }},
  };
  for (const LinkRow& row : rows) {
    for (const bool dangling : {false, true}) {
      if (dangling && row.hard) continue;
      SCOPED_TRACE(std::string(row.name) + (dangling ? ", dangling" : ""));
      ScratchDir outside;
      outside.write("target", "PRECIOUS");
      s.mkdir("unit0");
      fs::remove(p + row.at);
      const bool folder = std::string(row.at) == "damaged";
      const std::string target = outside.path() + (dangling ? "new" : folder ? "" : "target");
      if (row.hard) fs::create_hard_link(target, p + row.at);
      else fs::create_symlink(target, p + row.at);
      EXPECT_TRUE(row.refused());
      EXPECT_EQ(outside.tree(true).size(), 2u);  // the folder's own time and one file: nothing made
      EXPECT_EQ(outside.read("target"), "PRECIOUS");
      EXPECT_TRUE(row.hard || (fs::is_symlink(p + row.at) && fs::read_symlink(p + row.at) == target));
      fs::remove(p + row.at);
    }
  }
  EXPECT_EQ(s.read("state.vwu"), "prog=0.5\n");
}

TEST(WildcardTest, MatchesInTheLastComponentOnly) {
  struct Case {
    const char* pattern;
    std::vector<std::string> deleted;
  } cases[] = {
      {"*.vwu", {".vwu", "a.vwu", "ab.vwu", "c.VWU"}},
      {"*.VWU", {".vwu", "a.vwu", "ab.vwu", "c.VWU"}},
      {"?.vwu", {"a.vwu", "c.VWU"}},
      {"a*", {"a.vwu", "a.vwu.bak", "a.vwux", "ab.vwu", "abc"}},
      {"*.*", {".vwu", "a.vwu", "a.vwu.bak", "a.vwux", "ab.vwu", "abc", "c.VWU"}},
      {"a??", {"abc"}},
      {"*c", {"abc"}},
      {"A.VWU", {}},  // without a wildcard the name is looked up as it is
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    ScratchDir s;
    std::vector<std::string> all = {".vwu", "a.vwu", "a.vwu.bak", "a.vwux", "ab.vwu", "abc", "c.VWU"};
    for (const std::string& name : all) s.write(name, "x");
    s.write("sub/a.vwu", "x");
    s.write("b/x.vwu", "x");
    int status = run("del " + s.path() + c.pattern).status;
    EXPECT_EQ(status, c.deleted.empty() ? 1 : 0);
    std::vector<std::string> left;
    std::set_difference(all.begin(), all.end(), c.deleted.begin(), c.deleted.end(), std::back_inserter(left));
    left.push_back("b");
    left.push_back("sub");
    std::sort(left.begin(), left.end());
    EXPECT_EQ(names_in(s.path()), left);
    EXPECT_TRUE(s.exists("sub/a.vwu"));
  }
}

// Programs: scripts in a scratch folder that exit with a known status and
// leave their arguments in "args".
class ProgramTest : public ::testing::Test {
 protected:
  void program(const std::string& relative, int status) {
    s.write(relative, "#!/bin/sh\necho \"$@\" > \"" + s.path() + "args\"\nexit " + std::to_string(status) + "\n");
    ::chmod((s.path() + relative).c_str(), 0755);
  }
  ScratchDir s;
};

// The current folder is searched before PATH, with and without ".exe", and
// a folder may be written with backslashes.
TEST_F(ProgramTest, FindsProgramsByTheirWindowsNames) {
  program("vorclose", 7);
  program("tool.exe", 5);
  program("dup", 3);
  program("bin/dup", 4);
  program("bin/onpath", 9);
  program("client/Vorelith", 6);
  program("client/other.exe", 8);
  s.mkdir("elsewhere");
  const char* old_path = std::getenv("PATH");
  ScopedEnv path("PATH", s.path() + "bin:" + (old_path != nullptr ? old_path : "/usr/bin:/bin"));
  const struct {
    const char* cwd;
    std::string line;
    int status;
    const char* args;  // what the program was given, when it ran
  } cases[] = {
      {"", "vorclose -exit -echo off", 7, "-exit -echo off\n"},
      {"", "vorclose.exe -connect", 7, "-connect\n"},
      {"", "tool", 5, nullptr},
      {"", "TOOL.exe", 127, nullptr},  // names are case-sensitive here
      {"", "dup", 3, nullptr},
      {"elsewhere", "dup", 4, nullptr},
      {"elsewhere", "onpath.exe a b", 9, "a b\n"},
      {"elsewhere", "onpath", 9, nullptr},
      {"elsewhere", s.path() + "client\\Vorelith.exe", 6, nullptr},
      {"elsewhere", s.path() + "client/Vorelith.exe", 6, nullptr},
      {"elsewhere", s.path() + "client\\other", 8, nullptr},
      {"elsewhere", s.path() + "client\\missing.exe", 127, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ScopedCwd cwd(s.path() + c.cwd);
    EXPECT_EQ(run(c.line).status, c.status);
    if (c.args != nullptr) {
      EXPECT_EQ(s.read("args"), c.args);
    }
  }
}

TEST(ShellTest, ExitStatusPassesThrough) {
  EXPECT_EQ(run("exit 42").status, 42);
  EXPECT_EQ(run("  true").status, 0);
  EXPECT_EQ(run("false").status, 1);
  EXPECT_EQ(run("kill -TERM $$").status, 128 + 15);
  EXPECT_EQ(run("no-such-program-anywhere").status, 127);
  EXPECT_EQ(run("echo one; exit 3").status, 3);
  EXPECT_EQ(run("true " + std::string(100000, 'x')).status, 0);  // an overlong line still runs
}

// A command reads nothing of the controller's own input, and leads a
// process group of its own, which a stop ends whole.
TEST(ShellTest, CommandsReadNothingAndLeadAGroupOfTheirOwn) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "x\n", 2), 2);
  {
    testing::Redirect input(STDIN_FILENO, fds[0]);
    EXPECT_EQ(run("test -z \"$(cat)\"").status, 0);
  }
  ::close(fds[0]);
  ::close(fds[1]);
  EXPECT_EQ(run("test \"$(ps -o pgid= -p $$ | tr -d ' ')\" = $$").status, 0);
}

// A stop waits for a command's group while a member runs, and not for
// members that have ended but are not reaped yet (an orphan waits for init).
TEST(ShellTest, AGroupHasEndedOnceOnlyZombiesAreLeft) {
  const pid_t dead = ::fork();
  ASSERT_GE(dead, 0);
  if (dead == 0) {
    ::setpgid(0, 0);
    const pid_t orphan = ::fork();
    siginfo_t ended;
    if (orphan == 0 || ::waitid(P_PID, orphan, &ended, WEXITED | WNOWAIT) == 0) ::_exit(0);
    ::_exit(1);
  }
  ::setpgid(dead, dead);
  siginfo_t ended;
  ASSERT_EQ(::waitid(P_PID, dead, &ended, WEXITED | WNOWAIT), 0);
  EXPECT_EQ(::kill(-dead, 0), 0) << "the unreaped leader still holds its group";
  EXPECT_FALSE(group_still_running(dead));
  int status;
  ::waitpid(dead, &status, 0);

  const pid_t live = ::fork();
  ASSERT_GE(live, 0);
  if (live == 0) {
    ::setpgid(0, 0);
    ::pause();
    ::_exit(0);
  }
  ::setpgid(live, live);
  EXPECT_TRUE(group_still_running(live));
  ::kill(live, SIGKILL);
  ::waitpid(live, &status, 0);
  EXPECT_FALSE(group_still_running(live));
}

TEST_F(ProgramTest, OnlyTheFirstWordIsRewritten) {
  program("vorclose", 0);
  program("it's", 0);
  s.write("notexec", "");
  ScopedCwd cwd(s.path());
  EXPECT_EQ(shell_line_for("vorclose.exe -exit \\x *"), "'./vorclose' -exit \\x *");
  EXPECT_EQ(shell_line_for("  vorclose"), "  './vorclose'");
  EXPECT_EQ(shell_line_for(s.path() + "vorclose.exe\n"), "'" + s.path() + "vorclose'\n");
  EXPECT_EQ(shell_line_for("a\\b arg"), "'a/b' arg");  // not found: the shell reports it by that name
  // Lines the shell reads by itself are left alone.
  for (const char* line : {"echo hi", "FOO=1 vorclose", "\"vorclose\" x", "it's", "notexec", "$X vorclose", ""})
    EXPECT_EQ(shell_line_for(line), line) << line;
}

}  // namespace
}  // namespace vorcnt
