// The controller's own surface: start-up order, banners, help, dump, and one
// pass of the loop per state.
#include <gtest/gtest.h>

#include <algorithm>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/controller.h"
#include "app/status_publisher.h"
#include "engine/digest.h"
#include "engine/move_record.h"
#include "engine/work_wait.h"
#include "platform/files.h"
#include "platform/session_lock.h"
#include "platform/process_guards.h"
#include "support/fakes.h"
#include "support/notify_listener.h"
#include "support/scratch.h"

namespace vorcnt {
namespace {

using testing::FakeOs;
using testing::ScopedCwd;
using testing::ScopedEnv;
using testing::ScratchDir;

const std::string kBanners =
    "Vorelith Client Controler Version 0.2\x83\xc0+6\n"
    "Vorelith Client Monitor Version 0.6\x83\xbf" "6\n";

const std::string kHelp =
    "options:\n"
    "\t-version            show version info\n"
    "\t-help               show help info\n"
    "\t-exec PATH          Vorelith Client PATH\n"
    "\t-fill               Send result & get New work_unit\n"
    "\t-units N            Number of work_unit buffer. default=2 1<=N<=16\n"
    "\t-prog               show Vorelith Progress.\n"
    "\t-time N             Polling Time. default=120Sec 120Sec<=N<=36000Sec\n"
    "\t-execfinish COMMAND Execute command if finished run Vorelith.\n"
    "\t-connect FROM-TO    Connect only from FROM to TO (local HH:MM-HH:MM).\n"
    "\t-execempty COMMAND  Execute command if no work_unit is left to compute.\n"
    "\t-stall MINUTES      Restart Vorelith if its files do not change for MINUTES. 1<=N<=100000\n"
    "\t-nowork MINUTES     End a connection that gets no new work after MINUTES and retry later. 1<=N<=100000\n"
    "\t-log FILE           Copy every line to FILE (UTF-8), with the time.\n";

// Runs the controller in a scratch folder (the current folder is where
// vorcnt.cfg is looked for).
class ControllerRun : public ::testing::Test {
 protected:
  int run(std::vector<std::string> args) {
    args.insert(args.begin(), "vorcnt");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return controller_main(fake_.os, static_cast<int>(args.size()), argv.data());
  }

  ScratchDir dir_;
  ScopedCwd here_{dir_.path()};
  ScopedEnv session_{"TMPDIR", dir_.path()};  // a session of its own
  // No folder of the user's own: a squatted session name has no stand-in.
  ScopedEnv home_{"HOME", dir_.path() + "no-home"};
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", std::nullopt};
  FakeOs fake_;
};

// -help and -version, given as options or as lines of the settings file: the
// later one wins, the command line over the file.
struct InfoRow {
  const char* name;
  const char* settings;  // nullptr: no vorcnt.cfg
  std::vector<std::string> args;
  std::string output;
  friend void PrintTo(const InfoRow& row, std::ostream* out) { *out << row.name; }
};

class InfoRuns : public ControllerRun, public ::testing::WithParamInterface<InfoRow> {};

TEST_P(InfoRuns, RunTheCloserBeforeAnyOutputThenPrintOnlyBannersAndHelp) {
  if (GetParam().settings != nullptr) dir_.write("vorcnt.cfg", GetParam().settings);
  std::size_t output_at_first_command = std::string::npos;
  fake_.shell.effect = [&](const std::string&) {
    if (output_at_first_command == std::string::npos) output_at_first_command = fake_.console.output.size();
    return 0;
  };
  EXPECT_EQ(run(GetParam().args), 0);
  EXPECT_EQ(output_at_first_command, 0u);
  EXPECT_EQ(fake_.shell.commands_ran, std::vector<std::string>{"vorclose.exe -exit -echo off"});
  EXPECT_EQ(fake_.console.output, GetParam().output);
  EXPECT_TRUE(fake_.clock.pauses.empty());
  if (dir_.exists("run.log")) {
    const std::string log = dir_.read("run.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), std::count(GetParam().output.begin(), GetParam().output.end(), '\n'));
    EXPECT_TRUE(log.ends_with("1970-01-01 00:00:00 \t-log FILE           Copy every line to FILE (UTF-8), with the time.\n"));
  }
}

const std::string kNoSettings = "vorcnt.cfg open error!\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, InfoRuns,
    ::testing::Values(InfoRow{"Version", nullptr, {"-version"}, kBanners + kNoSettings},
                      InfoRow{"Help", nullptr, {"-help"}, kBanners + kNoSettings + kHelp},
                      InfoRow{"HelpThenVersion", nullptr, {"-help", "-version"}, kBanners + kNoSettings},
                      InfoRow{"VersionThenHelp", nullptr, {"-version", "-help"}, kBanners + kNoSettings + kHelp},
                      InfoRow{"HelpLineInTheFile", "# settings\r\nHELP\r\n", {}, kBanners + kHelp},
                      InfoRow{"LaterVersionLineInTheFile", "help\nversion\n", {}, kBanners},
                      InfoRow{"OptionOverTheFile", "VERSION\n", {"-help"}, kBanners + kHelp},
                      InfoRow{"VersionOptionOverTheFile", "HELP\r\n", {"-version"}, kBanners},
                      // The log changes no byte of the console and gets each line.
                      InfoRow{"LogInTheFile", "LOG = run.log\nHELP\n", {}, kBanners + kHelp}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ControllerRun, SettingsInErrorWithNoWorkStartNothing) {
  // "-help -exec" leaves Mode_error, so no unit is chosen: no client may start
  // in the empty folder (it would fetch work), and the run ends.
  dir_.write("Vorelith.exe", "");
  dir_.write("unit0/version.vwu", "v");
  dir_.write("unit0/work_unit.vwu", "w");
  EXPECT_EQ(run({"-help", "-exec"}), Exit_usage);
  const std::string& out = fake_.console.output;
  EXPECT_EQ(out.find("options:"), std::string::npos);
  EXPECT_NE(out.find("bad arg: -path N\n[unit0] Dir find : 5\nThe settings are in error"), std::string::npos) << out;
  EXPECT_NE(out.find("mode:vorcnt_state:Vorcnt_error\npath:\n"), std::string::npos);
  EXPECT_EQ(out.find("No unit folders yet"), std::string::npos);  // it has one: -fill is not the answer
  EXPECT_EQ(fake_.shell.commands_ran, std::vector<std::string>{"vorclose.exe -exit -echo off"});
  EXPECT_EQ(fake_.clock.pauses, (std::vector<int>{5, 0}));
  EXPECT_EQ(dir_.read("unit0/work_unit.vwu"), "w");
  // Refused in vorcnt.cfg rather than on the command line: 78; both: 64.
  dir_.write("vorcnt.cfg", "UNITS = 99\n");
  EXPECT_EQ(run({}), Exit_config);
  EXPECT_EQ(run({"-units", "0"}), Exit_usage);
}

// A fresh client folder run without -fill has nothing to do and stops; its
// last line says how to get work. It never was ready: the service manager
// reports a failed start, not a start followed by an exit.
TEST_F(ControllerRun, AFreshFolderWithoutFillEndsSayingToFill) {
  const std::string socket = "@vorcnt-unready-test-" + std::to_string(::getpid());
  testing::NotifyListener manager(socket);
  ScopedEnv notify("NOTIFY_SOCKET", socket);
  const std::string hint = "No unit folders yet: start once with -fill (or a FILL line) to make them and fetch work\n";
  dir_.write("Vorelith.exe", "");
  EXPECT_EQ(run({}), Exit_config);  // starting it again as it is would do the same
  for (std::string m; (m = manager.next()) != "(none)";) EXPECT_NE(m, "READY=1");
  const std::string& out = fake_.console.output;
  ASSERT_GT(out.size(), hint.size() + 8);
  EXPECT_EQ(out.substr(out.size() - hint.size() - 8), "fill:0\n\n" + hint);
  // Its last published state says it stopped.
  EXPECT_NE(dir_.read("vorcnt.status").find("\nstate=stopped\n"), std::string::npos);
}

// The service manager hears READY=1 once the start-up's recovery is done:
// here a push that had ended but for its record.
TEST_F(ControllerRun, ReadyComesOnlyAfterTheRecovery) {
  const std::string socket = "@vorcnt-ready-test-" + std::to_string(::getpid());
  testing::NotifyListener manager(socket);
  ScopedEnv notify("NOTIFY_SOCKET", socket);
  dir_.write("client/Vorelith.exe", "");
  dir_.write("client/unit0/work_unit.vwu", "w");
  dir_.write("client/vorcnt.move", format_move_record({MoveDirection::push, 0, {{"work_unit.vwu", 1, digest_of("w")}}}));
  // The console lines with what the manager was sent, in the order they came.
  struct Interleaved final : Console {
    explicit Interleaved(testing::NotifyListener& m) : manager(m) {}
    void write(std::string_view bytes) override { flush(), seen.append(bytes); }
    void flush() override {
      for (std::string m; (m = manager.next()) != "(none)";) seen += "<" + m + ">\n";
    }
    testing::NotifyListener& manager;
    std::string seen;
  } console(manager);
  struct Stop {};
  fake_.clock.on_sleep = [&](int) {
    console.flush();
    if (console.seen.find("<READY=1>") != std::string::npos) throw Stop{};
  };
  Os os{fake_.shell, fake_.clock, console, fake_.disk};
  std::string args[] = {"vorcnt", "-exec", dir_.path() + "client/"};
  char* argv[] = {args[0].data(), args[1].data(), args[2].data(), nullptr};
  EXPECT_THROW(controller_main(os, 3, argv), Stop);
  const std::size_t done = console.seen.find("[Unit0] the interrupted push had finished");
  ASSERT_NE(done, std::string::npos) << console.seen;
  EXPECT_GT(console.seen.find("<READY=1>"), done) << console.seen;
}

// Start-up checks: each failure gives one line after the banners and the
// settings' own messages, and the run ends with nothing moved, made or run
// beyond the closer order (none at all when another controller holds the
// folder or the session).
struct StartRow {
  const char* name;
  std::vector<std::string> args;  // "@" stands for the scratch folder
  std::string last_line;          // "@" likewise
  int status;                     // the run's exit status
  int closer_status = 0;
  bool client_present = true;
  bool folder_locked = false;
  bool session_locked = false;
  bool session_squatted = false;  // its name bound by a program that is not a controller
  std::string before = {};        // the lines before the last, when the row pins them
  friend void PrintTo(const StartRow& row, std::ostream* out) { *out << row.name; }
};

class StartChecks : public ControllerRun, public ::testing::WithParamInterface<StartRow> {};

std::string at_scratch(std::string text, const std::string& dir) {
  for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, dir);
  return text;
}

TEST_P(StartChecks, EndTheRunBeforeAnythingMoves) {
  const StartRow& row = GetParam();
  const std::string d = dir_.path();
  if (row.client_present) dir_.write("client/Vorelith.exe", "");
  dir_.write("client/unit0/work_unit.vwu", "w");
  fake_.shell.effect = [&](const std::string&) { return row.closer_status; };
  std::vector<std::string> args;
  for (const std::string& a : row.args) args.push_back(at_scratch(a, d));
  ControllerLock other;
  if (row.folder_locked) {
    ASSERT_EQ(other.take((d + "client/").c_str()), ControllerLock::Outcome::taken);
  }
  SessionLock other_session;
  if (row.session_locked) {
    ASSERT_EQ(other_session.take(), SessionLock::Outcome::taken);
  }
  // Linux's abstract name: anyone may bind it first.
  const std::string lock_name = "vorcnt-" + std::to_string(::getuid()) + "-" + session_key(d);
  const int squatter = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (row.session_squatted) {
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, lock_name.data(), lock_name.size());
    ASSERT_EQ(::bind(squatter, reinterpret_cast<sockaddr*>(&addr),
                     static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + lock_name.size())),
              0);
  }

  EXPECT_EQ(run(args), row.status);
  const std::string& out = fake_.console.output;
  ASSERT_FALSE(out.empty());
  const std::size_t last = out.rfind('\n', out.size() - 2);
  std::string want = at_scratch(row.last_line, d);
  if (const std::size_t at = want.find("<lock>"); at != std::string::npos) want.replace(at, 6, "@" + lock_name);  // "@" is no scratch folder here
  EXPECT_EQ(out.substr(last == std::string::npos ? 0 : last + 1), want + "\n");
  if (!row.before.empty()) {
    EXPECT_EQ(out.substr(0, last + 1), row.before);
  }
  ::close(squatter);
  EXPECT_EQ(fake_.shell.commands_ran.size(),
            row.folder_locked || row.session_locked || row.session_squatted ? 0u : 1u);
  EXPECT_TRUE(fake_.clock.pauses.empty());
  EXPECT_EQ(dir_.read("client/unit0/work_unit.vwu"), "w");
  EXPECT_FALSE(dir_.exists("client/work_unit.vwu"));
  EXPECT_FALSE(dir_.exists("clientunit0"));
  EXPECT_FALSE(dir_.exists("absent"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StartChecks,
    ::testing::Values(
        StartRow{"CloserNotFound", {"-exec", "@client/"},
                 "vorclose could not be run (status 127): a running client could not be stopped; nothing is started",
                 Exit_unavailable, 127},
        StartRow{"NoInterpreter", {"-exec", "@client/"},
                 "vorclose could not be run (status -1): a running client could not be stopped; nothing is started",
                 Exit_unavailable, -1},
        // Asked only for its version, with no closer found: the interpreter's
        // "not found" line is explained. With no interpreter nobody said a word.
        StartRow{"VersionCloserNotFound", {"-version"},
                 "vorclose could not be run (status 127), so the command interpreter said it is not found: put the "
                 "client's vorclose.exe in this folder or on PATH",
                 Exit_ok, 127},
        StartRow{"NoClientProgram", {"-exec", "@client/"}, "Client folder @client/ holds no Vorelith.exe: nothing is started",
                 Exit_unavailable, 0, false},
        StartRow{"FolderMissing", {"-exec", "@absent/"}, "Client folder @absent/ not found: nothing is started",
                 Exit_unavailable},
        StartRow{"NoSeparator", {"-exec", "@client"},
                 "Client folder @client does not end in a folder separator: nothing is started", Exit_config},
        StartRow{"PathRefused", {"-fill", "-exec", "@client/a b/"},
                 "The client folder setting was refused: nothing is started; correct EXEC or -exec", Exit_usage},
        StartRow{"AnotherController", {"-exec", "@client/"},
                 "Another vorcnt is working on the client folder @client/: this one ends", Exit_tempfail, 0, true, true},
        // A refused option is still said in its usual lines, and its status
        // comes first.
        StartRow{.name = "AnotherControllerRefusedOption",
                 .args = {"-units", "abc", "-exec", "@client/"},
                 .last_line = "Another vorcnt is working on the client folder @client/: this one ends",
                 .status = Exit_usage,
                 .folder_locked = true,
                 .before = "vorcnt.cfg open error!\nbad arg: -units \nbad arg: \n"},
        // -version is no exception: its closer order would stop the other
        // controller's client.
        StartRow{"AnotherControllerVersion", {"-version", "-exec", "@client/"},
                 "Another vorcnt is working on the client folder @client/: this one ends", Exit_tempfail, 0, true, true},
        // One that works on another folder, or is asked only for -version
        // anywhere, would stop that controller's client all the same.
        StartRow{"AnotherControllerInSession", {"-version"},
                 "Another vorcnt is running for this user; its client would be stopped: this one ends",
                 Exit_tempfail, 0, true, false, true},
        // No guard, no order: it might stop another controller's client.
        StartRow{"SessionLockCannotBeMade", {"-version"},
                 "The one-controller-per-user lock cannot be made (<lock> is taken by a program that is not "
                 "vorcnt; no lock file of this user's own stands in for it (@no-home/.vorcnt: No such file or "
                 "directory)), so no client is stopped: this one ends",
                 Exit_tempfail, 0, true, false, false, true}),
    [](const ::testing::TestParamInfo<StartRow>& info_row) { return std::string(info_row.param.name); });

// Eleven lines; Mode_error has no name and no line end, and the user's path
// and command are not CP932: a terminal gets them as they are, line end included.
TEST(DumpContext, ElevenLinesWithTheUsersTextsVerbatim) {
  const struct {
    const char* name;
    void (*change)(ControllerContext&);
    std::string output, verbatim;
  } rows[] = {
      {"Defaults", [](ControllerContext&) {},
       "mode:Mode_calc\nvorcnt_state:Vorcon_CalcWait\npath:\nexecfinish:\nUnits:2\nUnits_local:2\n"
       "calculation_unit:0\nprog:0\ntime:120\nfill:0\n\n",
       "||"},
      {"ModeError",
       [](ControllerContext& ctx) {
         ctx.mode = Mode_error;
         ctx.vorcnt_state = Vorcon_CalcCompletion;
         ctx.calculation_unit = NO_UNIT;
       },
       "mode:vorcnt_state:Vorcon_CalcCompletion\npath:\nexecfinish:\nUnits:2\nUnits_local:2\n"
       "calculation_unit:255\nprog:0\ntime:120\nfill:0\n\n",
       "||"},
      {"ExecfinishFromTheFileKeepsItsLineEnd",
       [](ControllerContext& ctx) {
         std::snprintf(ctx.execfinish, sizeof ctx.execfinish, "shutdown -s\n");
         std::snprintf(ctx.path, sizeof ctx.path, "c:\\vorelith\\");
         ctx.mode = Mode_fill;
         ctx.fill = 2;
       },
       "mode:Mode_fill\nvorcnt_state:Vorcon_CalcWait\npath:c:\\vorelith\\\nexecfinish:shutdown -s\n\nUnits:2\n"
       "Units_local:2\ncalculation_unit:0\nprog:0\ntime:120\nfill:2\n\n",
       "c:\\vorelith\\|shutdown -s\n|"},
      {"StallOnlyWhenSet", [](ControllerContext& ctx) { ctx.stall = 90; },
       "mode:Mode_calc\nvorcnt_state:Vorcon_CalcWait\npath:\nexecfinish:\nUnits:2\nUnits_local:2\n"
       "calculation_unit:0\nprog:0\ntime:120\nfill:0\nstall:90\n\n",
       "||"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeOs fake;
    ControllerContext ctx;
    ctx.units_local = 2;
    ctx.calculation_unit = 0;
    row.change(ctx);
    dump_context(fake.os, ctx);
    EXPECT_EQ(fake.console.output, row.output);
    EXPECT_EQ(fake.console.verbatim, row.verbatim);
  }
}

// One pass per state, on an empty client folder: what is printed around the
// action, and the pause that ends the pass.
class LoopPass : public ::testing::Test {
 protected:
  void SetUp() override {
    std::snprintf(ctx_.path, sizeof ctx_.path, "%s", dir_.path().c_str());
    ctx_.units_local = 2;
    ctx_.calculation_unit = 1;
    ctx_.time = 300;
  }
  ScratchDir dir_;
  FakeOs fake_;
  ControllerContext ctx_;
};

// The published state is written when it changes, and only then, with what
// the controller waits for; an unchanged pass writes nothing. The service
// manager's status line follows the computing unit's progress too.
TEST_F(LoopPass, PublishedStateIsWrittenOnlyWhenItChanges) {
  const std::string socket = "@vorcnt-status-test-" + std::to_string(::getpid());
  testing::NotifyListener manager(socket);
  ScopedEnv notify("NOTIFY_SOCKET", socket);
  ServiceNotifier notifier;
  fake_.clock.wall_start = 1765098000;  // 2025-12-07 09:00 UTC
  StatusPublisher publisher(notifier, fake_.clock.now_utc());
  ctx_.connect_start = 22 * 60;
  ctx_.connect_end = 23 * 60;
  const struct {
    std::int32_t state;
    double progress;
    const char* failure;
    bool written;
    std::string has;
    std::string status;  // what the manager hears; "": nothing
  } rows[] = {
      {Vorcon_Calc, 45.04, "", true, "state=computing\nunit=1\nprogress=45.0\nwait=client_computing\n",
       "computing unit1 (45 %)"},
      {Vorcon_Calc, 45.01, "", false, "", ""},  // the same to a tenth of a percent
      {Vorcon_Calc, 50.0, "", false, "", "computing unit1 (50 %)"},
      {Vorcon_Calc, 50.0, "failed", true, "wait=failure\nwait_time=1765098000\n",
       "retrying a failed move of unit1 since 09:00"},
      {Vorcon_CalcWait, 0, "failed", true, "status=retrying a failed pop of unit1 since 09:00\n",
       "retrying a failed pop of unit1 since 09:00"},
      {Vorcon_ConnectionWait, 0, "", true, "status=waiting for the connection window (opens 22:00)\n",
       "waiting for the connection window (opens 22:00)"},
      {Vorcon_Connection, 0, "", true, "status=connecting unit1\n", "connecting unit1"},
      {Vorcon_ConnectCompletion, 0, "", true, "last_connection=1765098000\n", "storing unit1"},
  };
  for (const auto& row : rows) {
    ctx_.vorcnt_state = row.state;
    ctx_.progress = row.progress;
    ctx_.failure_shown = row.failure;
    ctx_.pop_pending = row.state == Vorcon_CalcWait;
    ctx_.connect_waiting = row.state == Vorcon_ConnectionWait;
    std::filesystem::remove(dir_.path() + "vorcnt.status");
    publisher.publish(fake_.clock, ctx_);
    ASSERT_EQ(dir_.exists("vorcnt.status"), row.written) << row.has;
    if (row.written) {
      EXPECT_NE(dir_.read("vorcnt.status").find(row.has), std::string::npos) << dir_.read("vorcnt.status");
    }
    EXPECT_EQ(manager.next(), row.status.empty() ? "(none)" : "STATUS=" + row.status);
  }
}

TEST_F(LoopPass, CalcWaitStartsTheClientBetweenItsTwoLines) {
  ctx_.vorcnt_state = Vorcon_CalcWait;
  EXPECT_TRUE(loop_pass(fake_.os, ctx_));
  EXPECT_EQ(fake_.console.output, std::string("[Unit1] Data\x8c" "v\x8e" "Z\x8f\x80\x94\xf5\n") +
                                      "[Unit1] Data\x8c" "v\x8e" "Z\x8a" "J\x8e" "n\n");
  EXPECT_EQ(ctx_.vorcnt_state, Vorcon_Calc);
  EXPECT_EQ(fake_.clock.pauses.back(), 5);
}

TEST_F(LoopPass, CalcPrintsProgressOnlyWithProgAndWaitsTheConfiguredTime) {
  dir_.write("version.vwu", "");
  dir_.write("work_unit.vwu", "data");
  dir_.write("state.vwu", "prog=0.125\n");
  ctx_.vorcnt_state = Vorcon_Calc;

  EXPECT_TRUE(loop_pass(fake_.os, ctx_));
  EXPECT_EQ(fake_.console.output, "");
  EXPECT_EQ(fake_.clock.pauses.back(), 300);

  ctx_.prog = 1;
  EXPECT_TRUE(loop_pass(fake_.os, ctx_));
  EXPECT_EQ(fake_.console.output, std::string("[Unit1] Data\x8c" "v\x8e" "Z\x92\x86\x81" "F12.500000%\n"));
  EXPECT_EQ(fake_.clock.pauses.back(), 300);
  EXPECT_EQ(ctx_.vorcnt_state, Vorcon_Calc);
  EXPECT_TRUE(fake_.shell.commands_ran.empty());
}

TEST_F(LoopPass, FinishedCalculationMovesOnWithAFiveSecondPause) {
  dir_.write("version.vwu", "");
  dir_.write("result.vwu", "r");
  dir_.write("state.vwu", "prog=1\n");
  ctx_.vorcnt_state = Vorcon_Calc;
  EXPECT_TRUE(loop_pass(fake_.os, ctx_));
  EXPECT_EQ(ctx_.vorcnt_state, Vorcon_CalcCompletion);
  EXPECT_EQ(ctx_.unit_state[1], 2);
  EXPECT_EQ(fake_.clock.pauses, (std::vector<int>{30, 5}));
}

TEST_F(LoopPass, CompletionStatesSwapThenPauseFiveSeconds) {
  dir_.mkdir("unit0");
  dir_.mkdir("unit1");
  const std::pair<int, const char*> states[] = {
      {Vorcon_CalcCompletion, "[Unit1] Data\x8c" "v\x8e" "Z\x8a\xae\x97\xb9\n"},
      {Vorcon_ConnectCompletion, "[Unit1] Data\x8c\xf0\x90" "M\x8a\xae\x97\xb9\n"}};
  for (const auto& [state, line] : states) {
    SCOPED_TRACE(state);
    ctx_.mode = Mode_calc;
    ctx_.vorcnt_state = state;
    ctx_.calculation_unit = 1;
    fake_.console.output.clear();
    fake_.clock.pauses.clear();
    std::remove((dir_.path() + "outfile.vwu").c_str());  // left by the previous pop
    EXPECT_TRUE(loop_pass(fake_.os, ctx_));
    EXPECT_EQ(fake_.console.output.rfind(std::string(line) + "[Unit1] push\n", 0), 0u) << fake_.console.output;
    // Nothing to compute: the empty unit0 is chosen to fetch work.
    EXPECT_EQ(ctx_.vorcnt_state, Vorcon_ConnectionWait);
    EXPECT_EQ(ctx_.calculation_unit, 0);
    EXPECT_EQ(fake_.clock.pauses, (std::vector<int>{1, 1, 5}));  // push, pop, then the pass
  }
}

// Outside the window a connection waits, with one line and pauses of at most
// `time`; computing and a connection under way are never held back.
TEST_F(LoopPass, ConnectWindowGatesOnlyTheStartOfAConnection) {
  ctx_.connect_start = 23 * 60;
  ctx_.connect_end = 8 * 60;
  fake_.clock.wall_start = 12 * 3600;  // noon
  ctx_.vorcnt_state = Vorcon_ConnectionWait;
  EXPECT_TRUE(loop_pass(fake_.os, ctx_));
  EXPECT_TRUE(loop_pass(fake_.os, ctx_));
  EXPECT_EQ(fake_.console.output, "[Unit1] connection waits for the window 23:00-08:00: it opens at 23:00, in 11h00m\n");
  EXPECT_TRUE(fake_.shell.commands_ran.empty());
  EXPECT_EQ(fake_.clock.pauses, (std::vector<int>{300, 300}));
  EXPECT_EQ(ctx_.vorcnt_state, Vorcon_ConnectionWait);

  fake_.clock.now_seconds = 11 * 3600 - 100;  // 22:58:20: the last pause ends at the opening
  EXPECT_TRUE(loop_pass(fake_.os, ctx_));
  EXPECT_EQ(fake_.clock.pauses.back(), 100);
  fake_.console.output.clear();
  EXPECT_TRUE(loop_pass(fake_.os, ctx_));
  EXPECT_EQ(fake_.console.output.rfind("[Unit1] Data\x8c\xf0\x90" "M\x91\xd2\x8b" "@\n", 0), 0u);
  EXPECT_EQ(ctx_.vorcnt_state, Vorcon_Connection);

  fake_.clock.now_seconds = 21 * 3600;  // 09:00 next day: closed, the connection goes on
  fake_.console.output.clear();
  EXPECT_TRUE(loop_pass(fake_.os, ctx_));
  EXPECT_EQ(fake_.console.output, "[Unit1] Data\x8c\xf0\x90" "M\x8c" "p\x91\xb1\n");
  ctx_.vorcnt_state = Vorcon_CalcWait;
  const std::size_t ran = fake_.shell.commands_ran.size();
  EXPECT_TRUE(loop_pass(fake_.os, ctx_));
  EXPECT_EQ(ctx_.vorcnt_state, Vorcon_Calc);
  EXPECT_GT(fake_.shell.commands_ran.size(), ran);
}

// The stall watch, pass by pass. Each outcome letter is one pass: '.' quiet,
// '1'-'3' a restart, 'S' the line that ends the restarts. A restarted client
// rewrites its state file as it starts, which must not count as work.
TEST_F(LoopPass, StallWatchRestartsAStillClientThreeTimesThenOnlyWatches) {
  struct Row {
    const char* name;
    int state;
    int stall;
    std::vector<int> changes;  // passes before which the client's progress moves
    const char* outcomes;
  };
  const Row rows[] = {
      {"unset_never_restarts", Vorcon_Calc, 0, {}, "................"},
      {"computing_hung", Vorcon_Calc, 10, {}, "..1..2..3..S......"},
      {"slow_but_moving", Vorcon_Calc, 15, {2, 4, 6, 8, 10, 12, 14}, "................"},
      {"a_change_resets_the_count", Vorcon_Calc, 10, {7}, "..1..2...1..2..3..S...."},
      {"a_change_after_the_end_restarts_again", Vorcon_Calc, 10, {13}, "..1..2..3..S...1..2."},
      {"connecting_hung", Vorcon_Connection, 1, {}, "......1......2......3......S..."},
      // The window (10:00-11:00) is closed all along: no connection restarts.
      {"connecting_hung_outside_the_window", Vorcon_Connection, 1, {}, "................"},
      // Sent, no work and no download, with NOWORK: its case, not a stall.
      {"connecting_waiting_for_work", Vorcon_Connection, 1, {}, "................"},
      // With NOWORK of a minute, a download still growing is never cut.
      {"connecting_growing_download", Vorcon_Connection, 0, {}, "................"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchDir dir;
    FakeOs fake;
    ControllerContext ctx;
    std::snprintf(ctx.path, sizeof ctx.path, "%s", dir.path().c_str());
    std::snprintf(ctx.history, sizeof ctx.history, "%sunits.tsv", dir.path().c_str());
    ctx.calculation_unit = 1;
    ctx.time = 300;
    ctx.fill = 2;
    ctx.stall = row.stall;
    ctx.vorcnt_state = row.state;
    if (std::string_view(row.name).ends_with("window")) {
      ctx.connect_start = 10 * 60;
      ctx.connect_end = 11 * 60;
    }
    dir.write("version.vwu", "");
    const bool dry = std::string_view(row.name).ends_with("work");
    const bool growing = std::string_view(row.name).ends_with("download");
    ctx.nowork = dry ? 100000 : growing ? 1 : 0;
    dir.write(row.state == Vorcon_Calc ? "work_unit.vwu" : dry ? "outfile.vwu" : "wtemp.vwu", "data");
    dir.write("state.vwu", "prog=0.25\n");
    fake.shell.effect = [&dir](const std::string& command) {
      if (command.ends_with("Vorelith.exe")) dir.write("state.vwu", "prog=0.25\ncpu=0\n");
      return 0;
    };
    std::string outcomes;
    for (std::size_t pass = 0; pass < std::strlen(row.outcomes); ++pass) {
      if (std::count(row.changes.begin(), row.changes.end(), static_cast<int>(pass)) != 0)
        dir.write("state.vwu", "prog=0." + std::to_string(30 + pass) + "\n");
      if (growing) dir.write("wtemp.vwu", std::string(pass + 1, 'd'));
      const std::size_t ran = fake.shell.commands_ran.size();
      fake.console.output.clear();
      ASSERT_TRUE(loop_pass(fake.os, ctx));
      const bool stop_line = fake.console.output.find("no more restarts") != std::string::npos;
      outcomes += stop_line ? 'S' : fake.shell.commands_ran.size() == ran ? '.' : static_cast<char>('0' + ctx.stall_watch.restarts);
      EXPECT_EQ(ctx.vorcnt_state, row.state);
    }
    EXPECT_EQ(outcomes, row.outcomes);
    EXPECT_TRUE(dir.exists(row.state == Vorcon_Calc ? "work_unit.vwu" : dry ? "outfile.vwu" : "wtemp.vwu"));
    const std::string journal = dir.exists("units.tsv") ? dir.read("units.tsv") : "";
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), 'S'), journal.find("\trestart_stop\t") != std::string::npos);
  }
}

// What one restart runs and prints: the closer's exit order, a 5 s pause,
// then the state's own start with its own commands and lines.
TEST_F(LoopPass, StallRestartUsesTheStatesOwnStart) {
  dir_.write("version.vwu", "");
  dir_.write("work_unit.vwu", "data");
  ctx_.stall = 5;
  ctx_.vorcnt_state = Vorcon_Calc;
  ASSERT_TRUE(loop_pass(fake_.os, ctx_));
  fake_.log.clear();
  ASSERT_TRUE(loop_pass(fake_.os, ctx_));
  EXPECT_EQ(fake_.console.output,
            "[Unit1] the client's files have not changed for 5m00s while computing: restarting the client (1 of 3)\n");
  EXPECT_EQ(fake_.log, (testing::EventLog{"run: vorclose -exit -echo off", "sleep 5", "run: " + dir_.path() + "Vorelith.exe",
                                          "sleep 5", "run: vorclose -close -echo off", "sleep 300"}));

  dir_.write("wtemp.vwu", "part");
  std::remove((dir_.path() + "work_unit.vwu").c_str());
  ctx_.vorcnt_state = Vorcon_Connection;
  ctx_.fill = 2;
  ctx_.stall = 1;
  for (int pass = 0; pass < 6; ++pass) ASSERT_TRUE(loop_pass(fake_.os, ctx_));
  fake_.log.clear();
  fake_.console.output.clear();
  ASSERT_TRUE(loop_pass(fake_.os, ctx_));
  EXPECT_EQ(fake_.log, (testing::EventLog{"run: vorclose -exit -echo off", "sleep 5", "run: " + dir_.path() + "Vorelith.exe",
                                          "sleep 20", "run: vorclose.exe -connect", "sleep 10"}));
  EXPECT_EQ(fake_.console.output, "[Unit1] Data\x8c\xf0\x90" "M\x8c" "p\x91\xb1\n"
                                  "[Unit1] the client's files have not changed for 1m00s while connecting: restarting the "
                                  "client (1 of 3)\n[Unit1] Data Conection Start.\n");
}

// NOWORK, pass by pass: a connection without work for NOWORK minutes is
// ended (never restarted by STALL) and its unit waits quietly for its retry;
// the next dry spell doubles the pause, an opening window ends the wait at
// once, and work ends it with one line.
TEST_F(LoopPass, NoWorkEndsADryConnectionAndTheUnitWaitsForItsRetry) {
  const std::int64_t midnight = 1'800'000'000 - 1'800'000'000 % 86400;
  fake_.clock.wall_start = midnight;
  std::snprintf(ctx_.history, sizeof ctx_.history, "%sunits.tsv", dir_.path().c_str());
  dir_.write("version.vwu", "");
  ctx_.nowork = 1;
  ctx_.stall = 1;
  auto run_while = [&](std::int32_t state) {
    for (int pass = 0; ctx_.vorcnt_state == state && pass < 30; ++pass) ASSERT_TRUE(loop_pass(fake_.os, ctx_));
  };
  ctx_.vorcnt_state = Vorcon_Connection;
  run_while(Vorcon_Connection);
  EXPECT_EQ(fake_.shell.commands_ran, std::vector<std::string>{"vorclose -exit -echo off"});
  EXPECT_TRUE(fake_.console.output.ends_with(
      "[Unit1] the project has no work: none came for 1m00s, so the connection ends; this unit asks again at 01:01, "
      "after a pause of 1h00m\n"));
  EXPECT_EQ(ctx_.vorcnt_state, Vorcon_ConnectCompletion);
  const std::string at = std::to_string(midnight + 60);
  EXPECT_EQ(dir_.read("vorcnt.nowork"), "vorcnt.nowork 1\nunit=1 since=" + at + " asked=" + at +
                                            " retry_at=" + std::to_string(midnight + 3660) + " pause=3600\nend\n");
  EXPECT_NE(dir_.read("units.tsv").find("\tproject_dry\t-\tretry_in=3600s\n"), std::string::npos);

  // Quiet pauses of at most TIME until the retry, then the connection.
  ctx_.vorcnt_state = Vorcon_ConnectionWait;
  fake_.console.output.clear();
  fake_.clock.pauses.clear();
  run_while(Vorcon_ConnectionWait);
  EXPECT_EQ(fake_.console.output.find("[Unit1]"), 0u);  // the connection's own lines only
  EXPECT_EQ(fake_.clock.now_utc(), midnight + 3660 + 20 + 20);  // the start's 20 s and the pass's
  EXPECT_EQ(fake_.clock.pauses.front(), 300);
  run_while(Vorcon_Connection);
  EXPECT_NE(fake_.console.output.find("after a pause of 2h00m\n"), std::string::npos);

  // The window opening a minute from now ends the 2-hour wait at once.
  const int minute = static_cast<int>((fake_.clock.now_utc() - midnight) / 60);
  ctx_.connect_start = minute + 1;
  ctx_.connect_end = minute + 60;
  ctx_.vorcnt_state = Vorcon_ConnectionWait;
  run_while(Vorcon_ConnectionWait);
  EXPECT_LT(fake_.clock.now_utc(), midnight + (minute + 8) * 60);

  dir_.write("work_unit.vwu", "new");
  fake_.console.output.clear();
  run_while(Vorcon_Connection);
  EXPECT_NE(fake_.console.output.find("[Unit1] the project has work again: new work came after 1h"), std::string::npos);
  EXPECT_EQ(dir_.read("vorcnt.nowork"), "vorcnt.nowork 1\nend\n");
  EXPECT_EQ(fake_.console.output.find("restarting"), std::string::npos);
}

// A wait for work is a pause on the pause clock. A step of the wall clock
// while it runs neither stretches nor cuts it, and after a restart a retry
// time in the file far ahead or past is read as at most the unit's pause.
TEST_F(LoopPass, NoWorkWaitsOutlastNoClockStep) {
  const std::int64_t noon = 1'800'000'000 - 1'800'000'000 % 86400 + 12 * 3600, month = 30 * 86400;
  const struct {
    const char* name;
    std::int64_t step, retry_in;  // the wall clock's step after the wait's first pass; a restart's retry time
    const char* kept;             // the restart's line
    std::int64_t waits;           // before the unit asks again
  } rows[] = {{"stepped_ahead", month, 0, "", 3600},
              {"stepped_back", -month, 0, "", 3600},
              {"restart_ten_years_ahead", 0, 3650 * 86400, "at 13:00, in 1h00m", 3600},
              {"restart_a_month_past", 0, -month, "at 12:00, in 0s", 0},
              {"restart_then_stepped_back", -month, 3650 * 86400, "at 13:00, in 1h00m", 3600}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchDir dir;
    FakeOs fake;
    ControllerContext ctx = ctx_;
    std::snprintf(ctx.path, sizeof ctx.path, "%s", dir.path().c_str());
    ctx.nowork = 1;
    fake.clock.wall_start = noon;
    dir.write("version.vwu", "");
    long long began = 0;  // when the dry connection was ended
    fake.shell.effect = [&](const std::string& command) {
      if (command == "vorclose -exit -echo off") began = fake.clock.now_seconds;
      return 0;
    };
    if (row.retry_in != 0) {
      dir.write("vorcnt.nowork", "vorcnt.nowork 1\nunit=1 since=5 asked=5 retry_at=" + std::to_string(noon + row.retry_in) +
                                     " pause=3600\nend\n");
      load_work_waits(fake.os, ctx);
      EXPECT_EQ(fake.console.output, std::string("[Unit1] waits for work: it asks again ") + row.kept + "\n");
    }
    ctx.vorcnt_state = row.retry_in != 0 ? Vorcon_ConnectCompletion : Vorcon_Connection;
    for (int pass = 0; ctx.vorcnt_state == Vorcon_Connection && pass < 10; ++pass)
      ASSERT_TRUE(loop_pass(fake.os, ctx));
    ctx.vorcnt_state = Vorcon_ConnectionWait;
    for (int pass = 0; ctx.vorcnt_state == Vorcon_ConnectionWait && pass < 40; ++pass) {
      ASSERT_TRUE(loop_pass(fake.os, ctx));
      if (pass == 0) fake.clock.wall_start += row.step;
      if (pass != 1 || ctx.vorcnt_state != Vorcon_ConnectionWait) continue;
      WorkWaits waits{};  // the file's advice follows the pause, on the wall clock as it reads now
      std::string why;
      ASSERT_EQ(read_work_waits(ctx.path, waits, &why), WorkWaitRead::read) << why;
      EXPECT_TRUE(waits[1].retry_at > fake.clock.now_utc() && waits[1].retry_at <= fake.clock.now_utc() + 3600);
    }
    EXPECT_EQ(ctx.vorcnt_state, Vorcon_Connection);
    EXPECT_EQ(fake.clock.now_seconds - began, row.waits + 20 + 20);  // the start's 20 s and the pass's
  }
}

TEST_F(LoopPass, NoCurrentUnitEndsTheLoopWithOneLine) {
  for (int state = Vorcon_CalcWait; state <= Vorcon_ConnectCompletion; ++state) {
    ctx_.vorcnt_state = state;
    ctx_.calculation_unit = NO_UNIT;
    fake_.console.output.clear();
    EXPECT_FALSE(loop_pass(fake_.os, ctx_));
    EXPECT_EQ(fake_.console.output, "No unit is current (255): nothing can be computed or sent; stopping\n");
    EXPECT_EQ(ctx_.vorcnt_state, Vorcnt_error);
    EXPECT_EQ(ctx_.stop_status, Exit_software);
  }
  EXPECT_TRUE(fake_.shell.commands_ran.empty());
}

TEST_F(LoopPass, ErrorOrUnknownStateEndsTheLoopSilently) {
  for (int state : {99, 6, -1}) {
    ctx_.vorcnt_state = state;
    fake_.console.output.clear();
    EXPECT_FALSE(loop_pass(fake_.os, ctx_));
    EXPECT_EQ(fake_.console.output, "");
    EXPECT_EQ(fake_.clock.pauses.back(), 0);
  }
  EXPECT_TRUE(fake_.shell.commands_ran.empty());
}

}  // namespace
}  // namespace vorcnt
