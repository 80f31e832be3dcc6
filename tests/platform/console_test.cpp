// Formatting through print(): the texts' own conversions, and the rule that a
// '%' before a line end (or at the very end) is printed as it stands.
#include "platform/console.h"

#include <gtest/gtest.h>

#include <string>

#include "support/fakes.h"

namespace vorcnt {
namespace {

// The formats below are the controller's own; the compiler's format checks
// do not know the trailing-percent rule.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
#pragma GCC diagnostic ignored "-Wformat-security"
#endif

TEST(PrintTest, PercentBeforeALineEndOrAtTheEndIsLiteralAndNothingIsCut) {
  testing::FakeOs f;
  const std::string path(3000, 'p');
  print(f.os, "%f%\n", 12.5);
  print(f.os, "[%3d] %2.2f%", 7, 3.14159);
  print(f.os, "%d%\tthen %d and %s\n", 5, 6);
  print(f.os, "100%%\n");
  print(f.os, "strlen:%s\n", path.c_str());
  print(f.os, "[Unit%d] Data\x8c\x76\x8e\x5a\x8f\x80\x94\xf5\n", 3);  // Japanese texts pass as their bytes
  EXPECT_EQ(f.console.output,
            "12.500000%\n"
            "[  7] 3.14%"
            "5%\tthen %d and %s\n"
            "100%\n"
            "strlen:" + path + "\n"
            "[Unit3] Data\x8c\x76\x8e\x5a\x8f\x80\x94\xf5\n");
}

// A user's text goes where kVerbatim stands, unformatted and unconverted,
// and the rest of the line is formatted around it.
TEST(PrintTest, AVerbatimTextTakesItsPlaceInAWholeLine) {
  testing::FakeOs f;
  print_showing(f.os, "c:\\100%s\\", "[Unit%d] %s: %s (%d)%\n", 2, "pop", kVerbatim, 7);
  print_showing(f.os, "unused", "no place for it: %d\n", 3);
  EXPECT_EQ(f.console.output, "[Unit2] pop: c:\\100%s\\ (7)%\nno place for it: 3\n");
  EXPECT_EQ(f.console.verbatim, "c:\\100%s\\|");
}

TEST(RunCommandTest, FlushesTheConsoleFirst) {
  testing::FakeOs f;
  f.shell.effect = [&](const std::string&) { return f.console.flushes == 1 ? 4 : -1; };
  EXPECT_EQ(run_command(f.os, "vorclose -exit -echo off"), 4);
  EXPECT_EQ(f.shell.commands_ran, std::vector<std::string>{"vorclose -exit -echo off"});
}

}  // namespace
}  // namespace vorcnt
