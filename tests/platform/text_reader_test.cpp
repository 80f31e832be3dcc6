// The text reader: the same lines on every platform, whatever the line ends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/scratch.h"

namespace vorcnt {
namespace {

using testing::ScratchDir;

// Every piece read_line yields from `contents`, with the controller's
// 255-byte reads.
std::vector<std::string> pieces_of(const std::string& contents, int size = 255) {
  ScratchDir s;
  s.write("f.vwu", contents);
  TextReader reader;
  EXPECT_TRUE(reader.open((s.path() + "f.vwu").c_str()));
  std::vector<std::string> pieces;
  std::vector<char> buf(static_cast<std::size_t>(size));
  while (reader.read_line(buf.data(), size)) pieces.emplace_back(buf.data());
  // Once ended, it stays ended.
  EXPECT_FALSE(reader.read_line(buf.data(), size));

  // The same bytes from memory give the same pieces.
  TextReader memory;
  memory.open_memory(contents.data(), contents.size());
  std::vector<std::string> from_memory;
  while (memory.read_line(buf.data(), size)) from_memory.emplace_back(buf.data());
  EXPECT_EQ(from_memory, pieces);
  return pieces;
}

using Pieces = std::vector<std::string>;

TEST(TextReaderTest, LineEndsAndControlBytes) {
  struct Case {
    const char* name;
    std::string contents;
    Pieces pieces;
  } cases[] = {
      {"LF", "prog=0.5\ncpu=10\n", {"prog=0.5\n", "cpu=10\n"}},
      {"CR LF", "prog=0.5\r\ncpu=10\r\n", {"prog=0.5\n", "cpu=10\n"}},
      {"lone CR", "pr\rog=0.5\r\r\n", {"prog=0.5\n"}},
      {"Ctrl-Z ends", std::string("a\nb\x1a" "c\nd\n"), {"a\n", "b"}},
      {"Ctrl-Z first", std::string("\x1a" "a\n"), {}},
      {"last line without LF", "a\nlast", {"a\n", "last"}},
      {"empty", "", {}},
      {"blank lines", "\n\r\n\n", {"\n", "\n", "\n"}},
      {"NUL-free CP932 bytes", "\x8c\x76\x8e\x5a\n", {"\x8c\x76\x8e\x5a\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(pieces_of(c.contents), c.pieces);
  }
}

TEST(TextReaderTest, LinesAcrossReadBlocksAreWhole) {
  // Several blocks' worth, with CR LF pairs and a Ctrl-Z far from the start.
  std::string contents;
  Pieces expected;
  for (int i = 0; i < 2000; ++i) {
    std::string line = "bg_pot=" + std::to_string(i % 64) + "," + std::to_string(i);
    contents += line + "\r\n";
    expected.push_back(line + "\n");
  }
  contents += "\x1a" "after=1\n";
  EXPECT_EQ(pieces_of(contents), expected);
}

TEST(TextReaderTest, LongLinesComeInPieces) {
  std::string line254(254, 'x');
  EXPECT_EQ(pieces_of(line254 + "\n"), (Pieces{line254, "\n"}));
  EXPECT_EQ(pieces_of(std::string(253, 'x') + "\n"), (Pieces{std::string(253, 'x') + "\n"}));
  // Carriage returns do not count against the piece.
  EXPECT_EQ(pieces_of(std::string(253, 'x') + "\r\n"), (Pieces{std::string(253, 'x') + "\n"}));
  std::string huge(1000, 'y');
  EXPECT_EQ(pieces_of(huge), (Pieces{huge.substr(0, 254), huge.substr(254, 254), huge.substr(508, 254),
                                     huge.substr(762)}));
  EXPECT_EQ(pieces_of("abc\n", 2), (Pieces{"a", "b", "c", "\n"}));
}

TEST(TextReaderTest, FalseLeavesTheBufferAlone) {
  ScratchDir s;
  s.write("f.vwu", "x");
  TextReader reader;
  ASSERT_TRUE(reader.open((s.path() + "f.vwu").c_str()));
  char buf[8];
  ASSERT_TRUE(reader.read_line(buf, sizeof buf));
  std::strcpy(buf, "keep");
  EXPECT_FALSE(reader.read_line(buf, sizeof buf));
  EXPECT_STREQ(buf, "keep");
}

TEST(TextReaderTest, OpensByBackslashNamesAndRefusesBadOnes) {
  ScratchDir s;
  s.write("unit3/state.vwu", "prog=1\n");
  TextReader reader;
  EXPECT_TRUE(reader.open((s.path() + "unit3\\state.vwu").c_str()));
  char buf[255];
  ASSERT_TRUE(reader.read_line(buf, sizeof buf));
  EXPECT_STREQ(buf, "prog=1\n");
  EXPECT_FALSE(reader.open((s.path() + "unit3\\missing.vwu").c_str()));
  EXPECT_FALSE(reader.read_line(buf, sizeof buf));  // a failed open leaves nothing to read
  std::string too_long = s.path() + std::string(kMaxFileName, 'n');
  EXPECT_FALSE(reader.open(too_long.c_str()));
}

TEST(TextReaderTest, OpensOnlyRegularFilesAndNeverBlocks) {
  // A FIFO with no writer would block an open for ever, and a link to
  // /dev/zero would never end; neither is a client file.
  ScratchDir s;
  ASSERT_EQ(::mkfifo((s.path() + "state.vwu").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", (s.path() + "user_info.vwu").c_str()), 0);
  s.mkdir("version.vwu");
  TextReader reader;
  for (const char* name : {"state.vwu", "user_info.vwu", "version.vwu"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(reader.open((s.path() + name).c_str()));
  }
}

}  // namespace
}  // namespace vorcnt
