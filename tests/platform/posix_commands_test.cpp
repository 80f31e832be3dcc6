// The POSIX command layer against real scratch folders and real programs.
#include "platform/posix_commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process_guards.h"
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

TEST_F(CommandTest, SeveralFilesNeverMergeIntoOne) {
  s.write("elsewhere/target.dat", "keep me");
  struct Case {
    const char* dest;
  } cases[] = {{"missing"}, {"elsewhere/target.dat"}, {"elsewhere\\new.vwu"}, {"missing/"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dest);
    Ran r = run("copy " + p + "*.vwu " + p + c.dest);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("nothing copied"), std::string::npos) << r.err;
    EXPECT_FALSE(s.exists("missing"));
    EXPECT_FALSE(s.exists("elsewhere/new.vwu"));
    EXPECT_EQ(s.read("elsewhere/target.dat"), "keep me");
    EXPECT_EQ(s.read("work_unit.vwu"), "work unit data");
    EXPECT_EQ(s.read("state.vwu"), "prog=0.5\n");
  }
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

TEST_F(CommandTest, CopyOntoItselfFailsAndKeepsTheFile) {
  EXPECT_NE(run("copy " + p + "*.vwu " + p).status, 0);
  EXPECT_NE(run("copy " + p + "state.vwu " + p + "state.vwu").status, 0);
  EXPECT_EQ(s.read("work_unit.vwu"), "work unit data");
  EXPECT_EQ(s.read("state.vwu"), "prog=0.5\n");
}

TEST_F(CommandTest, NamingAFolderCopiesAllOfItsFiles) {
  s.mkdir("out");
  s.mkdir("sub");  // folders inside are not copied
  EXPECT_EQ(run("copy " + p + " " + p + "out").status, 0);
  EXPECT_EQ(names_in(p + "out"), (std::vector<std::string>{"notes.txt", "state.vwu", "work_unit.vwu"}));
}

TEST_F(CommandTest, CopyWithoutDestinationCopiesIntoTheCurrentFolder) {
  s.mkdir("here");
  ScopedCwd cwd(p + "here");
  EXPECT_EQ(run("copy " + p + "*.vwu").status, 0);
  EXPECT_EQ(names_in(p + "here"), (std::vector<std::string>{"state.vwu", "work_unit.vwu"}));
}

TEST_F(CommandTest, NothingToDoIsAFailure) {
  s.mkdir("unit0");
  s.mkdir("out");
  Ran r = run("copy " + p + "unit0\\*.vwu " + p + "out");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("unit0\\*.vwu"), std::string::npos) << r.err;  // names what the user wrote
  EXPECT_EQ(r.out, "");
  EXPECT_NE(run("del " + p + "unit0\\*.vwu").status, 0);
  EXPECT_NE(run("del " + p + "absent.vwu").status, 0);
  EXPECT_NE(run("copy " + p + "absent\\*.vwu " + p + "out").status, 0);
  EXPECT_NE(run("copy").status, 0);
  EXPECT_NE(run("del").status, 0);
  EXPECT_NE(run("mkdir").status, 0);
}

TEST_F(CommandTest, DelRemovesFilesButNeverFolders) {
  s.mkdir("unit0");
  s.write("unit0/a.vwu", "x");
  EXPECT_EQ(run("del " + p + "*").status, 0);
  EXPECT_EQ(names_in(p), std::vector<std::string>{"unit0"});
  // Naming a folder does not empty it.
  EXPECT_NE(run("del " + p + "unit0").status, 0);
  EXPECT_TRUE(s.exists("unit0/a.vwu"));
}

TEST_F(CommandTest, DelTakesSeveralPatternsAndFailsIfOneFindsNothing) {
  EXPECT_NE(run("del " + p + "state.vwu " + p + "nothing*.vwu").status, 0);
  EXPECT_FALSE(s.exists("state.vwu"));  // the pattern that matched still acted
  EXPECT_EQ(run("del /Q " + p + "work_unit.vwu").status, 0);
  EXPECT_FALSE(s.exists("work_unit.vwu"));
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
  // A wildcard in a folder name is not expanded.
  ScratchDir s;
  s.write("b/x.vwu", "x");
  EXPECT_NE(run("del " + s.path() + "?\\x.vwu").status, 0);
  EXPECT_TRUE(s.exists("b/x.vwu"));
}

TEST(MkdirTest, CreatesNestedFoldersAndRefusesExistingOnes) {
  ScratchDir s;
  EXPECT_EQ(run("mkdir " + s.path() + "unit0").status, 0);
  EXPECT_TRUE(is_directory((s.path() + "unit0").c_str()));
  Ran again = run("mkdir " + s.path() + "unit0");
  EXPECT_NE(again.status, 0);
  EXPECT_NE(again.err.find("exists"), std::string::npos) << again.err;
  EXPECT_EQ(run("MkDir " + s.path() + "a\\b\\c").status, 0);
  EXPECT_TRUE(is_directory((s.path() + "a/b/c").c_str()));
  s.write("file", "x");
  EXPECT_NE(run("mkdir " + s.path() + "file").status, 0);
}

TEST(BuiltinTest, CommandWordIgnoresCaseAndSwitchesAreIgnored) {
  ScratchDir s;
  s.write("a.vwu", "x");
  s.mkdir("u");
  EXPECT_EQ(run("COPY /Y " + s.path() + "a.vwu " + s.path() + "u").status, 0);
  EXPECT_TRUE(s.exists("u/a.vwu"));
  EXPECT_EQ(run("Del " + s.path() + "u\\a.vwu").status, 0);
  EXPECT_FALSE(s.exists("u/a.vwu"));
}

TEST(BuiltinTest, QuotesGroupANameWithBlanks) {
  ScratchDir s;
  s.write("my unit/a.vwu", "x");
  s.mkdir("to");
  EXPECT_EQ(run("copy \"" + s.path() + "my unit\\*.vwu\" " + s.path() + "to").status, 0);
  EXPECT_TRUE(s.exists("to/a.vwu"));
}

TEST(BuiltinTest, RedirectionIsRefusedRatherThanTakenAsAName) {
  ScratchDir s;
  s.write("a.vwu", "x");
  EXPECT_NE(run("del " + s.path() + "a.vwu > " + s.path() + "log").status, 0);
  EXPECT_TRUE(s.exists("a.vwu"));
  EXPECT_FALSE(s.exists("log"));
}

TEST(BuiltinTest, OverlongNamesFailCleanly) {
  ScratchDir s;
  std::string huge(100000, 'x');
  EXPECT_NE(run("copy " + s.path() + huge + "\\*.vwu " + s.path()).status, 0);
  EXPECT_NE(run("copy " + s.path() + huge + " " + s.path()).status, 0);
  EXPECT_NE(run("del " + s.path() + huge).status, 0);
  EXPECT_NE(run("mkdir " + s.path() + huge).status, 0);
  EXPECT_EQ(run("true " + huge).status, 0);
}

// Programs: scripts in a scratch folder that exit with a known status.
class ProgramTest : public ::testing::Test {
 protected:
  void program(const std::string& relative, int status) {
    s.write(relative, "#!/bin/sh\necho \"$@\" > \"" + s.path() + "args\"\nexit " + std::to_string(status) + "\n");
    ::chmod((s.path() + relative).c_str(), 0755);
  }
  ScratchDir s;
};

TEST_F(ProgramTest, CurrentFolderIsSearchedWithAndWithoutExe) {
  program("vorclose", 7);
  program("tool.exe", 5);
  ScopedCwd cwd(s.path());
  EXPECT_EQ(run("vorclose -exit -echo off").status, 7);
  EXPECT_EQ(s.read("args"), "-exit -echo off\n");
  EXPECT_EQ(run("vorclose.exe -connect").status, 7);
  EXPECT_EQ(s.read("args"), "-connect\n");
  EXPECT_EQ(run("tool").status, 5);
  EXPECT_EQ(run("TOOL.exe").status, 127);  // names are case-sensitive here
}

TEST_F(ProgramTest, CurrentFolderComesBeforePath) {
  program("dup", 3);
  program("bin/dup", 4);
  program("bin/onpath", 9);
  s.mkdir("elsewhere");
  const char* old_path = std::getenv("PATH");
  ScopedEnv path("PATH", s.path() + "bin:" + (old_path != nullptr ? old_path : "/usr/bin:/bin"));
  {
    ScopedCwd cwd(s.path());
    EXPECT_EQ(run("dup").status, 3);
  }
  ScopedCwd cwd(s.path() + "elsewhere");
  EXPECT_EQ(run("dup").status, 4);
  EXPECT_EQ(run("onpath.exe a b").status, 9);
  EXPECT_EQ(s.read("args"), "a b\n");
  EXPECT_EQ(run("onpath").status, 9);
}

TEST_F(ProgramTest, FolderNamesWithBackslashesAndTheExeVariant) {
  program("client/Vorelith", 6);
  program("client/other.exe", 8);
  EXPECT_EQ(run(s.path() + "client\\Vorelith.exe").status, 6);
  EXPECT_EQ(run(s.path() + "client/Vorelith.exe").status, 6);
  EXPECT_EQ(run(s.path() + "client\\other").status, 8);
  EXPECT_EQ(run(s.path() + "client\\missing.exe").status, 127);
}

TEST(ShellTest, ExitStatusPassesThrough) {
  EXPECT_EQ(run("exit 42").status, 42);
  EXPECT_EQ(run("  true").status, 0);
  EXPECT_EQ(run("false").status, 1);
  EXPECT_EQ(run("kill -TERM $$").status, 128 + 15);
  EXPECT_EQ(run("no-such-program-anywhere").status, 127);
  EXPECT_EQ(run("echo one; exit 3").status, 3);
}

TEST(ShellTest, OnlyTheFirstWordIsRewritten) {
  ScratchDir s;
  s.write("vorclose", "#!/bin/sh\n");
  s.write("it's", "#!/bin/sh\n");
  s.write("notexec", "");
  ::chmod((s.path() + "vorclose").c_str(), 0755);
  ::chmod((s.path() + "it's").c_str(), 0755);
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
