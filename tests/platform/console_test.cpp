// Formatting through print(): the texts' own conversions, and the rule that a
// '%' before a line end (or at the very end) is printed as it stands.
#include "platform/console.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/catalogue.h"
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

// A catalogue as msgfmt lays it out: the header, the two tables, then the
// NUL-ended strings, originals sorted.
std::string compiled_catalogue(const std::vector<std::pair<std::string, std::string>>& sorted) {
  const auto n = static_cast<std::uint32_t>(sorted.size());
  std::vector<std::uint32_t> words = {0x950412deu, 0, n, 28, 28 + 8 * n, 0, 0};
  std::string strings;
  const std::uint32_t base = 28 + 16 * n;
  std::vector<std::uint32_t> tables(4 * n);
  for (std::uint32_t i = 0; i < n; ++i) {
    for (int t = 0; t < 2; ++t) {
      const std::string& s = t == 0 ? sorted[i].first : sorted[i].second;
      tables[t * 2 * n + 2 * i] = static_cast<std::uint32_t>(s.size());
      tables[t * 2 * n + 2 * i + 1] = base + static_cast<std::uint32_t>(strings.size());
      strings += s + '\0';
    }
  }
  words.insert(words.end(), tables.begin(), tables.end());
  return std::string(reinterpret_cast<const char*>(words.data()), words.size() * 4) + strings;
}

TEST(CatalogueTest, FindsEachTranslationAndNeverReadsPastCutBytes) {
  const std::string whole = compiled_catalogue({{"a %d\n", "\xe3\x81\x82 %d\n"}, {"b", "B"}, {"c", "\xe3\x81\x8b"}});
  const Catalogue catalogue(whole);
  EXPECT_EQ(catalogue.find("a %d\n"), "\xe3\x81\x82 %d\n");
  EXPECT_EQ(catalogue.find("c"), "\xe3\x81\x8b");
  EXPECT_TRUE(catalogue.find("bb").empty());
  EXPECT_TRUE(catalogue.find("").empty());
  // Every shorter copy is a catalogue with a string cut off: it finds
  // nothing rather than read past its end (the sanitizer build watches).
  for (std::size_t size = 0; size < whole.size(); ++size) {
    const std::string cut = whole.substr(0, size);
    EXPECT_FALSE(Catalogue(cut).usable()) << size;
  }
}

}  // namespace
}  // namespace vorcnt
