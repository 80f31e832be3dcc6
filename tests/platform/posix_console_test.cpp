// The real console and shell on POSIX: raw CP932 in 512-byte blocks when
// redirected, UTF-8 on a terminal whose locale reads UTF-8, and either
// wherever the operator chooses it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <clocale>
#include <optional>
#include <string>
#include <vector>

#if __has_include(<pty.h>)
#include <pty.h>
#elif __has_include(<util.h>)
#include <util.h>
#else
#include <libutil.h>
#endif

#include "platform/console.h"
#include "platform/os.h"
#include "platform/process_guards.h"

namespace vorcnt {
namespace {

using testing::Redirect;
using testing::ScopedEnv;

// "[Unit3] Data" + 計算準備 in CP932 and in UTF-8.
const std::string kCp932 = "[Unit3] Data\x8c\x76\x8e\x5a\x8f\x80\x94\xf5";
const std::string kUtf8 = "[Unit3] Data\xe8\xa8\x88\xe7\xae\x97\xe6\xba\x96\xe5\x82\x99";

// Whatever is waiting on a non-blocking descriptor.
std::string drain(int fd) {
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  return out;
}

// A pipe whose read end never blocks.
struct Pipe {
  Pipe() {
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
  }
  ~Pipe() {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  int fds[2];
};

// Redirected output is held in 512-byte blocks until a flush, a command (whose
// own output must come after it) or the end.
TEST(RealConsoleTest, RedirectedOutputIsRawCp932InWholeBlocksFlushedBeforeEachCommand) {
  ScopedEnv lc_all("LC_ALL", "C.UTF-8");  // a UTF-8 locale changes nothing here
  Pipe pipe;
  std::string before_block, first_block, after_flush;
  {
    Redirect out(1, pipe.fds[1]);
    auto console = make_real_console();
    auto shell = make_real_shell();
    auto clock = make_real_clock(*console);
    Os os{*shell, *clock, *console};
    console->write(kCp932);
    before_block = drain(pipe.fds[0]);
    console->write(std::string(600, 'x'));
    first_block = drain(pipe.fds[0]);
    console->flush();
    after_flush = drain(pipe.fds[0]);
    console->write("before ");
    EXPECT_EQ(run_command(os, "printf after"), 0);
    console->write(" end");
  }
  EXPECT_EQ(before_block, "");
  ASSERT_EQ(first_block.size(), 512u);
  EXPECT_EQ(first_block + after_flush, kCp932 + std::string(600, 'x'));
  EXPECT_EQ(drain(pipe.fds[0]), "before after end");
}

// A reader that went away ends neither the run nor a command: the failure
// costs one line on stderr, whatever follows is dropped quietly, and the
// programs started meanwhile get the usual SIGPIPE (sh's printf dies of it).
TEST(RealConsoleTest, ClosedPipeCostsOneLineOnStderrAndNeverTheRun) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  testing::Capture err(2);
  int child_status = 0;
  {
    Redirect out(1, fds[1]);
    auto console = make_real_console();
    auto shell = make_real_shell();
    auto clock = make_real_clock(*console);
    Os os{*shell, *clock, *console};
    console->write(std::string(600, 'x'));  // a whole block goes out at once
    console->write("held");
    child_status = run_command(os, "printf lost");
    console->write("at the end");
  }
  ::close(fds[1]);
  EXPECT_EQ(child_status, 128 + SIGPIPE);
  EXPECT_EQ(err.text(), "standard output cannot be written (Broken pipe): what follows is not shown; the work goes on\n");
}

// A service's standard output is a socket: the operator's choice of encoding
// holds there, and without one a pipe keeps the raw bytes scripts rely on.
TEST(RealConsoleTest, RedirectedOutputFollowsTheChosenEncoding) {
  const std::string folder = "/srv/\xe3\x83\xb4/";  // a UTF-8 folder name, written verbatim
  const struct {
    std::optional<std::string> encoding;
    std::string want;
  } cases[] = {
      {std::nullopt, kCp932 + folder + "a\x81 b"},
      {"UTF-8", kUtf8 + folder + "a\xef\xbf\xbd b"},  // always valid UTF-8: a stray byte is replaced
      {"utf8", kUtf8 + folder + "a\xef\xbf\xbd b"},
      {"CP932", kCp932 + folder + "a\x81 b"},
      {"latin1", kCp932 + folder + "a\x81 b"},  // refused on stderr, the default kept
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoding.value_or("unset"));
    ScopedEnv encoding("VORCNT_ENCODING", c.encoding);
    ScopedEnv lc_all("LC_ALL", "C.UTF-8");
    Pipe pipe;
    {
      Redirect out(1, pipe.fds[1]);
      auto console = make_real_console();
      console->write(kCp932);
      console->write_verbatim(folder);
      console->write("a\x81 b");
    }
    EXPECT_EQ(drain(pipe.fds[0]), c.want);
  }
}

// Writes `pieces` through a console whose stdout is a pseudo-terminal, with
// the given locale variables, and returns what the terminal received. The
// piece at `verbatim` (if any) goes through write_verbatim.
std::string through_terminal(std::optional<std::string> lc_all, std::optional<std::string> lang,
                             const std::vector<std::string>& pieces, std::size_t verbatim, std::size_t expected_size,
                             std::optional<std::string> encoding = std::nullopt) {
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
  {
    ScopedEnv e("VORCNT_ENCODING", encoding);
    ScopedEnv a("LC_ALL", lc_all);
    ScopedEnv c("LC_CTYPE", std::nullopt);
    ScopedEnv l("LANG", lang);
    Redirect out(1, slave);
    auto console = make_real_console();
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (i == verbatim)
        console->write_verbatim(pieces[i]);
      else
        console->write(pieces[i]);
    }
    console->flush();
  }
  EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");  // the program's own locale is left alone
  // The terminal hands the bytes on asynchronously; wait for them.
  std::string got;
  char buf[4096];
  while (got.size() < expected_size) {
    struct pollfd p = {master, POLLIN, 0};
    if (::poll(&p, 1, 3000) <= 0) break;
    ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  ::close(slave);
  ::close(master);
  return got;
}

// UTF-8 only when the terminal's locale reads UTF-8; bytes that are not CP932
// and text written verbatim pass through raw.
TEST(RealConsoleTest, TerminalGetsUtf8OnlyWhenItsLocaleReadsUtf8) {
  constexpr std::size_t kNone = std::string::npos;
  // The last character is split across two writes.
  const std::vector<std::string> split = {kCp932.substr(0, kCp932.size() - 1), kCp932.substr(kCp932.size() - 1)};
  const std::string folder = "/srv/\xe3\x83\xb4\xe3\x82\xa9/";  // two katakana in UTF-8
  const struct {
    std::optional<std::string> lc_all;
    std::optional<std::string> lang;
    std::vector<std::string> pieces;
    std::size_t verbatim;
    std::string want;
    std::optional<std::string> encoding = std::nullopt;
  } cases[] = {
      {"C.UTF-8", std::nullopt, split, kNone, kUtf8},
      {std::nullopt, "C.UTF-8", split, kNone, kUtf8},
      {"xx_YY.utf8", std::nullopt, split, kNone, kUtf8},  // not installed: the name still tells
      {"C", "C.UTF-8", split, kNone, kCp932},             // LC_ALL wins
      {"POSIX", std::nullopt, split, kNone, kCp932},
      {std::nullopt, std::nullopt, split, kNone, kCp932},
      // A lead byte followed by a blank, and a lead byte left over at the end.
      {"C.UTF-8", std::nullopt, {"a\x81 b\x8c\x76", "\x8c"}, kNone, "a\x81 b\xe8\xa8\x88\x8c"},
      // A UTF-8 folder name between the program's texts stays as it is, and a
      // lead byte held before it is handed over first.
      {"C.UTF-8", std::nullopt, {"path:\x8c", folder, kCp932}, 1, "path:\x8c" + folder + kUtf8},
      // The operator's choice overrides the locale either way.
      {"C.UTF-8", std::nullopt, split, kNone, kCp932, "CP932"},
      {"C", std::nullopt, split, kNone, kUtf8, "UTF-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lc_all.value_or("-") + " / " + c.lang.value_or("-") + " / " + c.want);
    EXPECT_EQ(through_terminal(c.lc_all, c.lang, c.pieces, c.verbatim, c.want.size(), c.encoding), c.want);
  }
}

}  // namespace
}  // namespace vorcnt
