// The simulated world's own behaviour: what the end-to-end runs and the demo
// count on when they judge the controller.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client.h"
#include "closer.h"
#include "server.h"
#include "sim_files.h"
#include "sim_os.h"
#include "support/scratch.h"

namespace vorcnt::sim {
namespace {

using vorcnt::testing::ScratchDir;

// The file's text; a file that cannot be read fails the test.
std::string text_of(const std::string& path) {
  std::string text;
  EXPECT_TRUE(read_file(path, text)) << path;
  return text;
}

TEST(SimDigest, MatchesKnownValuesAndKeepsLeadingZeros) {
  EXPECT_EQ(hex64(fnv1a64("")), "cbf29ce484222325");
  EXPECT_EQ(hex64(fnv1a64("a")), "af63dc4c8601ec8c");
  EXPECT_EQ(hex64(fnv1a64("foobar")), "85944171f73967e8");
  EXPECT_EQ(hex64(0x1f), "000000000000001f");
}

TEST(SimKeyValues, ReadsLinesAsTheClientWritesThem) {
  KeyValues v = parse_key_values("prog=0.25\r\nnoequals\n=empty\ncpu=1\ncpu=2\nlast=x");
  EXPECT_EQ(value_of(v, "prog"), "0.25");
  EXPECT_EQ(value_of(v, "cpu"), "2");
  EXPECT_EQ(value_of(v, "last"), "x");
  EXPECT_EQ(v.size(), 3u);
}

TEST(SimFormats, ResultAndWorkUnitRoundTrip) {
  EXPECT_EQ(work_unit_id("id=wu000007\r\ndata"), "wu000007");
  EXPECT_EQ(work_unit_id("data without header"), "");
  ResultRecord back = parse_result(format_result({"wu000007", "00ff00ff00ff00ff", 600.5}));
  EXPECT_EQ(back.id, "wu000007");
  EXPECT_EQ(back.digest, "00ff00ff00ff00ff");
  EXPECT_DOUBLE_EQ(back.cpu, 600.5);
}

// The controller reads each key and value into a 31-character token, and
// bg_pot lines as "index,value"; the client must stay within that.
TEST(SimStateText, HoldsEveryKeyInShortTokens) {
  std::string text = state_text("0123456789abcdef", 0.25, 150.0);
  KeyValues v = parse_key_values(text);
  EXPECT_EQ(value_of(v, "prog"), "0.250000");
  EXPECT_EQ(value_of(v, "cpu"), "150.000000");
  for (const char* key : {"ncfft", "cr", "fl", "bs_power", "bs_score", "bs_bin", "bs_fft_ind", "bs_chirp_rate",
                          "bs_fft_len", "bg_score", "bg_sigma", "bg_power", "bg_true_mean", "bg_chisq", "bg_bin",
                          "bg_fft_ind", "bg_chirp_rate", "bg_fft_len"}) {
    EXPECT_FALSE(value_of(v, key).empty()) << key;
  }
  int pots = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::size_t eq = line.find('=');
    ASSERT_NE(eq, std::string::npos) << line;
    EXPECT_LE(eq, 31u) << line;
    EXPECT_LE(line.size() - eq - 1, 31u) << line;
    if (line.compare(0, 7, "bg_pot=") == 0) {
      ++pots;
      EXPECT_EQ(line.substr(7, 2), std::to_string(pots - 1) + ",") << line;
    }
  }
  EXPECT_GE(pots, 1);
}

TEST(SimCloserArgs, AcceptsTheControllersCommandLines) {
  struct Case {
    std::vector<std::string> args;
    std::string order;
    bool echo;
    bool ok;
  };
  const Case cases[] = {
      {{"-exit", "-echo", "off"}, "exit", false, true},
      {{"-close", "-echo", "off"}, "close", false, true},
      {{"-connect"}, "connect", true, true},
      {{"/EXIT"}, "exit", true, true},
      {{"-echo", "off", "-connect"}, "connect", false, true},
      {{"-echo", "off"}, "", false, false},
      {{"-exit", "-echo"}, "exit", true, false},
      {{"-stop"}, "", true, false},
  };
  for (const Case& c : cases) {
    CloserRequest r = parse_closer_args(c.args);
    EXPECT_EQ(r.error.empty(), c.ok) << c.args[0];
    if (c.ok) {
      EXPECT_EQ(r.order, c.order) << c.args[0];
      EXPECT_EQ(r.echo, c.echo) << c.args[0];
    }
  }
}

int ended_pid() {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  int status = 0;
  waitpid(pid, &status, 0);
  return static_cast<int>(pid);
}

TEST(SimCloser, ReturnsAtOnceWithoutClientAndClearsStaleRegistration) {
  ScratchDir dir;
  RunFolder run{dir.path() + "run"};
  std::string report;
  EXPECT_EQ(deliver_order(run, {"exit", false, ""}, "-exit -echo off", report), 0);
  EXPECT_NE(report.find("no client"), std::string::npos);

  ASSERT_TRUE(write_registration(run, Registration{ended_pid(), dir.path()}));
  dir.write("run/order", "close\n");
  EXPECT_EQ(deliver_order(run, {"connect", true, ""}, "-connect", report), 0);
  EXPECT_FALSE(file_exists(run.registration()));
  EXPECT_FALSE(file_exists(run.order()));
  EXPECT_EQ(dir.read("run/orders.log"), "-exit -echo off\n-connect\n");
}

TEST(SimCloser, ReportsAClientThatNeverTakesItsOrder) {
  ScratchDir dir;
  RunFolder run{dir.path() + "run"};
  ASSERT_TRUE(write_registration(run, Registration{current_pid(), dir.path()}));
  std::string report;
  EXPECT_EQ(deliver_order(run, {"close", true, ""}, "-close", report, {50, 50}), 1);
  EXPECT_FALSE(file_exists(run.order())) << "an order nobody took must not wait for the next client";
}

TEST(SimCloser, TwoClosersAtOnceBothReachTheClient) {
  // A service stop runs its closer while the controller may run its own.
  ScratchDir dir;
  RunFolder run{dir.path() + "run"};
  ASSERT_TRUE(write_registration(run, Registration{current_pid(), dir.path()}));
  constexpr int kEach = 25;
  std::map<std::string, int> taken;
  std::thread client([&] {
    long long deadline = monotonic_ms() + 20000;
    for (int got = 0; got < 2 * kEach && monotonic_ms() < deadline;) {
      std::string text;
      if (read_file(run.order(), text)) {
        remove_file(run.order());
        ++taken[text];
        ++got;
      }
      sleep_ms(1);
    }
  });
  auto closer = [&run](const char* word) {
    std::string report;
    for (int i = 0; i < kEach; ++i) deliver_order(run, {word, false, ""}, word, report);
  };
  std::thread first(closer, "close");
  std::thread second(closer, "connect");
  first.join();
  second.join();
  client.join();
  EXPECT_EQ(taken["close\n"], kEach);
  EXPECT_EQ(taken["connect\n"], kEach);
}

// Drives one client in-process on a virtual clock: 1 nominal second is 1 ms.
class SimClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = ServerFolder{dir_.path() + "server"};
    std::string error;
    ASSERT_TRUE(init_server(server_, 2, 2000, error)) << error;
    dir_.mkdir("client");
    setup_.folder = dir_.path() + "client/";
    setup_.run = RunFolder{dir_.path() + "run"};
    setup_.server = server_;
    setup_.timings = Timings{};  // compute 600, upload 10, download 20, retry 60
    setup_.scale = 0.001;
  }

  // Steps the client from `from` to `to` ms in 1 ms ticks; false if it ended.
  bool run(SimClient& client, long long from, long long to) {
    for (long long t = from; t <= to; ++t) {
      if (!client.step(t)) return false;
    }
    return true;
  }

  std::string client_file(const std::string& name) { return setup_.folder + name; }
  std::string client_prog() { return value_of(parse_key_values(text_of(client_file("state.vwu"))), "prog"); }
  void order(const std::string& word) { dir_.write("run/order", word + "\n"); }

  ScratchDir dir_;
  ServerFolder server_;
  ClientSetup setup_;
};

TEST_F(SimClientTest, FillsAnEmptyFolderThenComputesACorrectResult) {
  SimClient client(setup_);
  ASSERT_TRUE(client.start(0));
  EXPECT_TRUE(file_exists(client_file("version.vwu")));
  EXPECT_TRUE(file_exists(client_file("user_info.vwu")));
  ASSERT_TRUE(run(client, 0, 10));
  EXPECT_TRUE(file_exists(client_file("wtemp.vwu")));
  EXPECT_FALSE(file_exists(client_file("work_unit.vwu")));
  order("close");
  ASSERT_TRUE(run(client, 11, 40));
  const std::string issued = text_of(server_.issued() + "/wu000001.wu");
  EXPECT_EQ(text_of(client_file("work_unit.vwu")), issued);

  ASSERT_TRUE(run(client, 41, 700));
  ResultRecord result = parse_result(text_of(client_file("result.vwu")));
  EXPECT_EQ(result.id, "wu000001");
  EXPECT_EQ(result.digest, work_unit_digest(issued));
  EXPECT_FALSE(file_exists(client_file("work_unit.vwu")));
  EXPECT_EQ(client_prog(), "1.000000");

  // Told to close, it keeps the result; on "connect" it sends it.
  ASSERT_TRUE(run(client, 701, 800));
  EXPECT_TRUE(list_files(server_.results()).empty());
  order("connect");
  ASSERT_TRUE(run(client, 801, 820));
  EXPECT_EQ(list_files(server_.results()), std::vector<std::string>{"wu000001-1.res"});
  EXPECT_FALSE(file_exists(client_file("result.vwu")));
  EXPECT_EQ(verify_server(server_).verified, 1);
}

TEST_F(SimClientTest, ResumesFromTheStateFilesProgress) {
  dir_.write("client/work_unit.vwu", text_of(server_.queue() + "/wu000002.wu"));
  dir_.write("client/state.vwu", "cpu=450\nprog=0.750000\n");
  SimClient client(setup_);
  ASSERT_TRUE(client.start(0));
  order("close");
  ASSERT_TRUE(run(client, 0, 100));
  EXPECT_FALSE(file_exists(client_file("result.vwu")));
  ASSERT_TRUE(run(client, 101, 160));
  EXPECT_TRUE(file_exists(client_file("result.vwu")));
}

TEST_F(SimClientTest, AnExitDuringTheUploadKeepsTheResult) {
  dir_.write("client/result.vwu", format_result({"wu000001", "00", 1.0}));
  dir_.write("client/state.vwu", "prog=1.000000\n");
  SimClient client(setup_);
  ASSERT_TRUE(client.start(0));
  ASSERT_TRUE(run(client, 0, 5));
  order("exit");
  EXPECT_FALSE(run(client, 6, 7));
  client.finish();
  EXPECT_TRUE(file_exists(client_file("result.vwu")));
  EXPECT_TRUE(list_files(server_.results()).empty());
  EXPECT_FALSE(file_exists(setup_.run.registration()));
}

TEST_F(SimClientTest, ConnectOrderNeverReplacesUnfinishedWork) {
  dir_.write("client/work_unit.vwu", "id=mine\nwork");
  SimClient client(setup_);
  ASSERT_TRUE(client.start(0));
  order("connect");
  ASSERT_TRUE(run(client, 0, 100));
  EXPECT_EQ(text_of(client_file("work_unit.vwu")), "id=mine\nwork");
  EXPECT_EQ(verify_server(server_).issued, 0);
}

TEST_F(SimClientTest, NeverFaultStopsAtAQuarterAndStillTakesOrders) {
  setup_.fault = Fault::never;
  dir_.write("client/work_unit.vwu", "id=mine\nwork");
  SimClient client(setup_);
  ASSERT_TRUE(client.start(0));
  ASSERT_TRUE(run(client, 0, 5000));
  EXPECT_FALSE(file_exists(client_file("result.vwu")));
  EXPECT_EQ(client_prog(), "0.250000");
  order("exit");
  EXPECT_FALSE(client.step(5001));
}

TEST_F(SimClientTest, EndsWhenItsRegistrationIsTakenAway) {
  SimClient client(setup_);
  ASSERT_TRUE(client.start(0));
  ASSERT_TRUE(remove_file(setup_.run.registration()));
  EXPECT_FALSE(client.step(1));
}

TEST(SimServer, CountsVerifiedMismatchedAndDuplicateResults) {
  ScratchDir dir;
  ServerFolder server{dir.path() + "srv"};
  std::string error;
  ASSERT_TRUE(init_server(server, 3, 1000, error)) << error;
  ASSERT_TRUE(init_server(server, 1, 1000, error)) << error;
  EXPECT_EQ(list_files(server.queue()),
            (std::vector<std::string>{"wu000001.wu", "wu000002.wu", "wu000003.wu", "wu000004.wu"}));
  ASSERT_TRUE(move_new(server.queue() + "/wu000001.wu", server.issued() + "/wu000001.wu"));
  ASSERT_TRUE(move_new(server.queue() + "/wu000002.wu", server.issued() + "/wu000002.wu"));
  const std::string unit1 = text_of(server.issued() + "/wu000001.wu");
  EXPECT_NE(work_unit_digest(unit1), work_unit_digest(text_of(server.issued() + "/wu000002.wu")));
  dir.write("srv/results/wu000001-1.res", format_result({"wu000001", work_unit_digest(unit1), 1}));
  dir.write("srv/results/wu000001-2.res", format_result({"wu000001", work_unit_digest(unit1), 1}));
  dir.write("srv/results/wu000002-1.res", format_result({"wu000002", work_unit_digest(unit1), 1}));
  dir.write("srv/results/wu000009-1.res", format_result({"wu000009", "0", 1}));
  dir.write("srv/results/.wu000002.99.tmp", "half");

  const VerifyCounts c = verify_server(server);
  // queue, issued, results, verified, mismatched, duplicates
  EXPECT_EQ((std::array{c.queue, c.issued, c.results, c.verified, c.mismatched, c.duplicates}),
            (std::array{2, 2, 4, 1, 2, 1}));
}

TEST(SimServer, LostCountsOnlyResultsNeitherUploadedNorHeld) {
  ScratchDir dir;
  ServerFolder server{dir.path() + "srv"};
  std::string error;
  ASSERT_TRUE(init_server(server, 0, 1000, error)) << error;
  dir.write("client.log", "start 1\nresult wuA 11\nresult wuB 22\nresult wuC 33\nresult wuD 44\nexit\n");
  dir.write("srv/results/wuA-1.res", format_result({"wuA", "11", 1}));
  dir.write("client/result.vwu", format_result({"wuB", "22", 1}));
  dir.write("client/unit3/result.vwu", format_result({"wuC", "33", 1}));
  EXPECT_EQ(lost_results(server, dir.path() + "client/", dir.path() + "client.log"),
            std::vector<std::string>{"wuD"});
}

}  // namespace
}  // namespace vorcnt::sim
