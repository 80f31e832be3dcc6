// The text reader: the same lines on every platform, whatever the line ends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "support/scratch.h"

namespace vorcnt {
namespace {

using testing::ScratchDir;

// Every piece read_line yields from `contents`, with the controller's
// 255-byte reads unless told otherwise.
std::vector<std::string> pieces_of(const std::string& contents, int size) {
  ScratchDir s;
  s.write("f.vwu", contents);
  TextReader reader;
  EXPECT_TRUE(reader.open((s.path() + "f.vwu").c_str()));
  std::vector<std::string> pieces;
  std::vector<char> buf(static_cast<std::size_t>(size));
  for (;;) {
    buf[0] = '#';
    buf[1] = '\0';
    if (!reader.read_line(buf.data(), size)) break;
    pieces.emplace_back(buf.data());
  }
  EXPECT_STREQ(buf.data(), "#");  // the end leaves the buffer alone
  EXPECT_FALSE(reader.read_line(buf.data(), size));  // and stays the end

  // The same bytes from memory give the same pieces.
  TextReader memory;
  memory.open_memory(contents.data(), contents.size());
  std::vector<std::string> from_memory;
  while (memory.read_line(buf.data(), size)) from_memory.emplace_back(buf.data());
  EXPECT_EQ(from_memory, pieces);
  return pieces;
}

using Pieces = std::vector<std::string>;

TEST(TextReaderTest, LineEndsControlBytesAndLongLines) {
  // Several read blocks' worth, with CR LF pairs and a Ctrl-Z far from the start.
  std::string blocks;
  Pieces block_lines;
  for (int i = 0; i < 2000; ++i) {
    std::string line = "bg_pot=" + std::to_string(i % 64) + "," + std::to_string(i);
    blocks += line + "\r\n";
    block_lines.push_back(line + "\n");
  }
  blocks += "\x1a" "after=1\n";
  const std::string x253(253, 'x'), x254(254, 'x'), huge(1000, 'y');
  struct Case {
    const char* name;
    std::string contents;
    Pieces pieces;
    int size = 255;
  } cases[] = {
      {"LF", "prog=0.5\ncpu=10\n", {"prog=0.5\n", "cpu=10\n"}},
      {"CR LF", "prog=0.5\r\ncpu=10\r\n", {"prog=0.5\n", "cpu=10\n"}},
      {"lone CR", "pr\rog=0.5\r\r\n", {"prog=0.5\n"}},
      {"Ctrl-Z ends", std::string("a\nb\x1a" "c\nd\n"), {"a\n", "b"}},
      {"Ctrl-Z first", std::string("\x1a" "a\n"), {}},
      {"last line without LF", "a\nlast", {"a\n", "last"}},
      {"one byte", "x", {"x"}},
      {"empty", "", {}},
      {"blank lines", "\n\r\n\n", {"\n", "\n", "\n"}},
      {"NUL-free CP932 bytes", "\x8c\x76\x8e\x5a\n", {"\x8c\x76\x8e\x5a\n"}},
      {"lines across read blocks", blocks, block_lines},
      {"254 bytes: the LF comes alone", x254 + "\n", {x254, "\n"}},
      {"253 bytes and the LF fit", x253 + "\n", {x253 + "\n"}},
      {"a CR does not count against the piece", x253 + "\r\n", {x253 + "\n"}},
      {"1000 bytes in pieces", huge, {huge.substr(0, 254), huge.substr(254, 254), huge.substr(508, 254), huge.substr(762)}},
      {"two-byte buffer", "abc\n", {"a", "b", "c", "\n"}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(pieces_of(c.contents, c.size), c.pieces);
  }
}

TEST(TextReaderTest, OpensRegularFilesByBackslashNamesAndNothingElse) {
  ScratchDir s;
  s.write("unit3/state.vwu", "prog=1\n");
  const std::string good = s.path() + "unit3\\state.vwu";
  TextReader reader;
  EXPECT_TRUE(reader.open(good.c_str()));
  char buf[255];
  ASSERT_TRUE(reader.read_line(buf, sizeof buf));
  EXPECT_STREQ(buf, "prog=1\n");
  // A FIFO with no writer would block an open for ever, and a link to
  // /dev/zero would never end; neither is a client file.
  ASSERT_EQ(::mkfifo((s.path() + "state.vwu").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", (s.path() + "user_info.vwu").c_str()), 0);
  s.mkdir("version.vwu");
  for (const std::string& name :
       {std::string("unit3\\missing.vwu"), std::string(kMaxFileName, 'n'), std::string("state.vwu"),
        std::string("user_info.vwu"), std::string("version.vwu")}) {
    SCOPED_TRACE(name.substr(0, 20));
    ASSERT_TRUE(reader.open(good.c_str()));
    EXPECT_FALSE(reader.open((s.path() + name).c_str()));
    EXPECT_FALSE(reader.read_line(buf, sizeof buf));  // a failed open leaves nothing to read
  }
}

}  // namespace
}  // namespace vorcnt
