// vorstat over scratch client folders: what it reports, how its JSON spells
// the client's texts, that it leaves every file as it was, and how it refuses
// bad usage. (cli_check.sh feeds the real binary's JSON to an outside parser.)

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/move_record.h"
#include "history_report.h"
#include "json_writer.h"
#include "platform/files.h"
#include "platform/process_guards.h"
#include "support/fakes.h"
#include "support/scratch.h"
#include "vorstat_report.h"

namespace vorcnt {
namespace {

namespace fs = std::filesystem;
using testing::FakeConsole;
using testing::ScopedCwd;
using testing::ScratchDir;

constexpr std::int64_t kNow = 1'700'000'000;

struct File {
  std::string name;  // a folder when it ends in '/'
  std::string contents;
};

void lay_out(const ScratchDir& dir, const std::vector<File>& files) {
  for (const File& f : files) {
    if (f.name.back() == '/')
      dir.mkdir(f.name);
    else
      dir.write(f.name, f.contents);
  }
}

struct Outcome {
  int status;
  std::string out;
  std::string errors;
};

Outcome run(std::vector<std::string> args) {
  args.insert(args.begin(), "vorstat");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  FakeConsole console, errors;
  Outcome r;
  r.status = vorstat::run_vorstat(static_cast<int>(argv.size()), argv.data(), console, errors, kNow);
  r.out = console.output;
  r.errors = errors.output;
  return r;
}

// The JSON report holds one line per folder; these pick them out.
struct JsonReport {
  std::string text;

  std::string line_starting(const std::string& start) const {
    const std::size_t at = text.find("\n" + start);
    if (at == std::string::npos) return "";
    return text.substr(at + 1, text.find('\n', at + 1) - at - 1);
  }
  std::string client() const { return line_starting("  \"client\": {"); }
  std::string unit(int n) const { return line_starting("    {\"unit\": " + std::to_string(n) + ","); }
  int unit_count() const {
    int n = 0;
    for (std::size_t at = text.find("\n    {\"unit\": "); at != std::string::npos;
         at = text.find("\n    {\"unit\": ", at + 1))
      ++n;
    return n;
  }
};

// Runs vorstat and keeps its JSON; the output must be plain ASCII, whatever
// the folders hold.
JsonReport json_of(const std::vector<std::string>& args) {
  const Outcome r = run(args);
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_TRUE(std::all_of(r.out.begin(), r.out.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
      << r.out;
  return JsonReport{r.out};
}
JsonReport json_report(const std::string& path) { return json_of({"--json", path}); }

// `line` holds "name": value, with exactly that value.
::testing::AssertionResult has_field(const std::string& line, const std::string& name, const std::string& value) {
  const std::string want = "\"" + name + "\": " + value;
  for (std::size_t at = line.find(want); at != std::string::npos; at = line.find(want, at + 1)) {
    const char next = at + want.size() < line.size() ? line[at + want.size()] : '\0';
    if (next == ',' || next == '}') return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "no " << want << " in: " << line;
}

bool has_key(const std::string& line, const std::string& name) {
  return line.find("\"" + name + "\": ") != std::string::npos;
}

// --- each state, as a unit folder's own files give it -------------------------

struct StateCase {
  const char* label;
  std::vector<File> unit0;
  const char* facts;  // the unit's JSON from "ext" to the end
  const char* words;  // what its table row says it is doing
};

class EachState : public ::testing::TestWithParam<StateCase> {};

TEST_P(EachState, JsonNamesTheStateAndItsFacts) {
  ScratchDir dir;
  dir.mkdir("unit0");
  for (const File& f : GetParam().unit0) {
    dir.write("unit0/" + f.name, f.contents);
    dir.set_mtime("unit0/" + f.name, kNow - 60);
  }
  const JsonReport j = json_report(dir.path());
  ASSERT_EQ(j.unit_count(), 1);
  const std::string expected =
      "    {\"unit\": 0, \"folder\": \"" + dir.path() + "unit0\", " + GetParam().facts;
  EXPECT_EQ(j.unit(0), expected);
  EXPECT_TRUE(has_field(j.client(), "state", "0"));
  EXPECT_TRUE(has_field(j.client(), "files_unchanged_s", "null"));  // nothing there to date
  EXPECT_FALSE(has_key(j.client(), "unit"));
  // A unit folder never computes: whatever state its files (or -fill) left
  // it in, the unit waits.
  const std::string table = run({dir.path()}).out;
  const std::size_t row = table.find("\nunit0 ");
  ASSERT_NE(row, std::string::npos) << table;
  EXPECT_TRUE(table.substr(row, table.find('\n', row + 1) - row).ends_with(std::string("  ") + GetParam().words))
      << table;
}

const File kVersion{"version.vwu", ""};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Vorstat, EachState, ::testing::Values(
    StateCase{"empty", {},
        R"("ext": ".txt", "state": 0, "state_name": "Data_nothing", "progress": 0.0, "cpu": null, "work_unit_status": 0, "work_unit_age_s": null, "result": false, "outfile": false, "in_transition": false})", "waiting for new work"},
    StateCase{"vwu_version_only", {kVersion},
        R"("ext": ".vwu", "state": 0, "state_name": "Data_nothing", "progress": 0.0, "cpu": null, "work_unit_status": 0, "work_unit_age_s": null, "result": false, "outfile": false, "in_transition": false})", "waiting for new work"},
    StateCase{"vwu_computing", {kVersion, {"work_unit.vwu", "wu"}, {"state.vwu", "prog=0.25\ncpu=900\n"}},
        R"("ext": ".vwu", "state": 1, "state_name": "Data_Calculation", "progress": 25.0, "cpu": 900.0, "work_unit_status": 2, "work_unit_age_s": 60, "result": false, "outfile": false, "in_transition": false})", "waiting to compute (partly computed)"},
    StateCase{"vwu_computed", {kVersion, {"state.vwu", "prog=1\ncpu=3600\n"}, {"result.vwu", "r"}, {"outfile.vwu", ""}},
        R"("ext": ".vwu", "state": 2, "state_name": "Data_Calculation_completion", "progress": 100.0, "cpu": 3600.0, "work_unit_status": 0, "work_unit_age_s": null, "result": true, "outfile": true, "in_transition": false})", "computed, waiting to send"},
    StateCase{"txt_result_alone", {{"result.txt", "r"}},
        R"("ext": ".txt", "state": 3, "state_name": "Data_Sending", "progress": 0.0, "cpu": null, "work_unit_status": 0, "work_unit_age_s": null, "result": true, "outfile": false, "in_transition": false})", "computed, waiting to send"},
    StateCase{"vwu_result_alone", {kVersion, {"result.vwu", "r"}},
        R"("ext": ".vwu", "state": 0, "state_name": "Data_nothing", "progress": 0.0, "cpu": null, "work_unit_status": 0, "work_unit_age_s": null, "result": true, "outfile": false, "in_transition": false})", "waiting for new work"},
    StateCase{"vwu_receiving", {kVersion, {"wtemp.vwu", "w"}},
        R"("ext": ".vwu", "state": 4, "state_name": "Data_Receiving", "progress": 0.0, "cpu": null, "work_unit_status": 1, "work_unit_age_s": null, "result": false, "outfile": false, "in_transition": false})", "new work incomplete, waiting to connect"},
    StateCase{"vwu_progress_without_files", {kVersion, {"state.vwu", "prog=0.5\n"}},
        R"("ext": ".vwu", "state": 4, "state_name": "Data_Receiving", "progress": 50.0, "cpu": 0.0, "work_unit_status": 0, "work_unit_age_s": null, "result": false, "outfile": false, "in_transition": false})", "new work incomplete, waiting to connect"},
    StateCase{"vwu_waiting", {kVersion, {"work_unit.vwu", "wu"}},
        R"("ext": ".vwu", "state": 5, "state_name": "Data_Calculation_wait", "progress": 0.0, "cpu": null, "work_unit_status": 2, "work_unit_age_s": 60, "result": false, "outfile": false, "in_transition": false})", "waiting to compute"},
    StateCase{"txt_outfile_alone", {{"outfile.txt", ""}},
        R"("ext": ".txt", "state": 5, "state_name": "Data_Calculation_wait", "progress": 0.0, "cpu": null, "work_unit_status": 0, "work_unit_age_s": null, "result": false, "outfile": true, "in_transition": false})", "waiting to compute"},
    StateCase{"txt_state_without_prog", {{"state.txt", "cpu=12\n"}},
        R"("ext": ".txt", "state": 0, "state_name": "Data_nothing", "progress": 0.0, "cpu": 12.0, "work_unit_status": 0, "work_unit_age_s": null, "result": false, "outfile": false, "in_transition": false})", "waiting for new work"}),
    [](const ::testing::TestParamInfo<StateCase>& case_info) { return std::string(case_info.param.label); });
// clang-format on

// --- a buffer as the controller leaves it mid-run ----------------------------

// Client computing at 37.5 %, unit0 holding a work unit that waits, unit1 a
// computed result, unit2 nothing.
void lay_out_running_buffer(const ScratchDir& dir) {
  lay_out(dir, {kVersion,
                {"work_unit.vwu", "data"},
                {"state.vwu", "ncfft=4\ncr=0.1\ncpu=5400.5\nprog=0.375\n"},
                {"outfile.vwu", ""},
                {"unit0/version.vwu", ""},
                {"unit0/work_unit.vwu", "data0"},
                {"unit1/version.vwu", ""},
                {"unit1/state.vwu", "cpu=36000\nprog=1.0\n"},
                {"unit1/result.vwu", "result1"},
                {"unit1/outfile.vwu", ""},
                {"unit2/", ""}});
  dir.set_mtime("work_unit.vwu", kNow - 90);
  dir.set_mtime("unit0/work_unit.vwu", kNow - 7200);
  // The client last wrote its state file 75 s ago.
  dir.set_mtime("version.vwu", kNow - 86400);
  dir.set_mtime("outfile.vwu", kNow - 3000);
  dir.set_mtime("state.vwu", kNow - 75);
}

TEST(VorstatBuffer, JsonAndTableGiveEveryFolderItsState) {
  ScratchDir dir;
  lay_out_running_buffer(dir);
  const JsonReport j = json_report(dir.path());

  EXPECT_EQ(j.text.rfind("{\n  \"schema\": 1,\n", 0), 0u) << j.text;
  EXPECT_TRUE(has_field(j.text, "path", "\"" + dir.path() + "\""));
  for (const auto& [name, value] : std::vector<std::pair<const char*, const char*>>{
           {"state", "1"}, {"progress", "37.5"}, {"cpu", "5400.5"}, {"work_unit_age_s", "90"},
           {"files_unchanged_s", "75"}})
    EXPECT_TRUE(has_field(j.client(), name, value));

  ASSERT_EQ(j.unit_count(), 3);
  EXPECT_TRUE(has_field(j.unit(0), "state", "5"));
  EXPECT_TRUE(has_field(j.unit(0), "work_unit_age_s", "7200"));
  EXPECT_TRUE(has_field(j.unit(0), "result", "false"));
  EXPECT_TRUE(has_field(j.unit(1), "state", "2"));
  EXPECT_TRUE(has_field(j.unit(1), "work_unit_age_s", "null"));
  EXPECT_TRUE(has_field(j.unit(1), "result", "true"));
  EXPECT_TRUE(has_field(j.unit(2), "state", "0"));
  EXPECT_NE(j.text.find("\n  \"damaged\": [],\n  \"clock_ahead\": false,\n  \"move\": null,\n  \"units_waiting_for_work\": 0,\n  \"controller_up\": false,"),
            std::string::npos)
      << j.text;

  const Outcome r = run({dir.path()});
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.out, "Client folder: " + dir.path() +
                       " (3 unit folders)\n"
                       "folder  state                          progress        cpu     wu age  result  activity\n"
                       "client  1 Data_Calculation               37.50%      1h30m      1m30s  no      partly computed\n"
                       "unit0   5 Data_Calculation_wait           0.00%          -      2h00m  no      waiting to compute\n"
                       "unit1   2 Data_Calculation_completion   100.00%     10h00m          -  yes     computed, waiting to send\n"
                       "unit2   0 Data_nothing                    0.00%          -          -  no      waiting for new work, or its unit is in the client folder\n"
                       "client files unchanged for 1m15s\n"
                       "controller: not running\n"
                       "units: 1 waiting to compute and 1 computing, 1 done and waiting to send\n"
                       "not enough computed units yet to tell how long the work lasts\n"
                       "last connection: none recorded\n");
  // A time ahead of the clock has no age: the table says so, the JSON and
  // the gauges read 0 and raise the flag, so that no age is negative.
  dir.set_mtime("unit0/work_unit.vwu", kNow + 86400 * 30);
  dir.set_mtime("state.vwu", kNow + 86400 * 365);
  const std::string ahead = run({dir.path()}).out;
  EXPECT_NE(ahead.find("\nunit0   5 Data_Calculation_wait           0.00%          - in the future  no      "), std::string::npos);
  EXPECT_NE(ahead.find("\nclient files changed in the future (their newest time is ahead of the clock)\n"), std::string::npos);
  const JsonReport late = json_report(dir.path());
  EXPECT_TRUE(has_field(late.unit(0), "work_unit_age_s", "0"));
  EXPECT_TRUE(has_field(late.client(), "files_unchanged_s", "0"));
  EXPECT_NE(late.text.find("\n  \"clock_ahead\": true,\n"), std::string::npos);
  const std::string metrics = vorstat::format_prometheus(vorstat::read_buffer_status(dir.path(), kNow));
  EXPECT_NE(metrics.find("\nvorcnt_client_unchanged_seconds 0\n"), std::string::npos) << metrics;
  EXPECT_NE(metrics.find("\nvorcnt_clock_ahead 1\n"), std::string::npos) << metrics;
  // A unit folder's time alone raises the flag too.
  dir.set_mtime("state.vwu", kNow - 75);
  EXPECT_TRUE(vorstat::read_buffer_status(dir.path(), kNow).clock_ahead());
  dir.set_mtime("unit0/work_unit.vwu", kNow - 7200);
  EXPECT_FALSE(vorstat::read_buffer_status(dir.path(), kNow).clock_ahead());

  // Files the controller set aside are listed, never counted as a unit.
  dir.write("damaged/unit1/result.vwu", std::string(8, '\0'));
  EXPECT_EQ(run({dir.path()}).out.substr(r.out.size()),
            "\ndamaged: 1 file set aside, none of them used:\n  damaged\\unit1\\result.vwu\n");
  dir.write("damaged/client-2/state.vwu", "");
  const JsonReport with_damaged = json_report(dir.path());
  EXPECT_EQ(with_damaged.unit_count(), 3);
  EXPECT_NE(with_damaged.text.find("\"damaged\": [\"client-2\\\\state.vwu\", \"unit1\\\\result.vwu\"],"),
            std::string::npos)
      << with_damaged.text;

  // A move's record tells what was moving, and a controller's lock whether
  // it still is.
  MoveRecord record;
  record.unit = 1;
  record.files = {{"result.vwu", 2, digest_of("ok")}, {"state.vwu", 0, digest_of("")}};
  dir.write(kMoveRecordName, format_move_record(record));
  const std::string interrupted = "interrupted move: push of unit1 (2 files); the controller finishes or undoes it when it starts\n";
  EXPECT_NE(run({dir.path()}).out.find(interrupted), std::string::npos);
  EXPECT_NE(json_report(dir.path()).text.find("\"move\": {\"state\": \"interrupted\", \"direction\": \"push\", \"unit\": 1, \"files\": 2}"),
            std::string::npos);
  {
    ControllerLock lock;
    ASSERT_EQ(lock.take(dir.path().c_str()), ControllerLock::Outcome::taken);
    EXPECT_NE(run({dir.path()}).out.find("move under way: push of unit1 (2 files)\n"), std::string::npos);
  }
  // Cut short: what the controller's start does with it, in its words.
  dir.write(kMoveRecordName, "vorcnt move record 1\npush 1\n");
  EXPECT_NE(run({dir.path()}).out.find("\nThe move record vorcnt.move was cut short while it was written; its move "
                                       "never began, so it is emptied\n"),
            std::string::npos);
  EXPECT_NE(json_report(dir.path()).text.find("\"move\": {\"state\": \"cut_short\", \"problem\": \"it is cut short\"}"),
            std::string::npos);
}

// --- moves beside the report ---------------------------------------------------

// Pauses between reads: counted, and in one case the controller's delete
// lands during the first of them.
int g_pauses = 0;
ScratchDir* g_moving = nullptr;
void count_pause(int) { ++g_pauses; }
void delete_during_first_pause(int attempt) {
  ++g_pauses;
  if (attempt == 0) {
    fs::remove(g_moving->path() + "unit0/work_unit.vwu");
    fs::remove(g_moving->path() + "unit0/version.vwu");
  }
}

// A pop between its copy and its delete: unit0's work unit is also in the
// client folder, byte for byte. Read again until the delete comes; if it
// never does, both folders are reported in transition and left out of the
// per-state counts, so the unit is never shown in two places as settled.
TEST(VorstatMoves, AWorkUnitInTwoPlacesIsReadAgainThenReportedInTransition) {
  struct Case {
    const char* label;
    void (*pause)(int);
    int pauses;
    bool in_transition;
    std::int32_t unit0_state;
  } cases[] = {{"delete_comes", delete_during_first_pause, 1, false, Data_nothing},
               {"delete_never_comes", count_pause, 5, true, Data_Calculation_wait}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchDir dir;
    lay_out(dir, {kVersion, {"work_unit.vwu", "wu-17"}, {"outfile.vwu", ""}, {"unit0/version.vwu", ""},
                  {"unit0/work_unit.vwu", "wu-17"}, {"unit1/version.vwu", ""}, {"unit1/work_unit.vwu", "wu-18"}});
    g_pauses = 0;
    g_moving = &dir;
    const vorstat::BufferStatus status = vorstat::read_buffer_status(dir.path(), kNow, c.pause);
    EXPECT_EQ(g_pauses, c.pauses);
    EXPECT_EQ(status.client.in_transition, c.in_transition);
    ASSERT_EQ(status.units.size(), 2u);
    EXPECT_EQ(status.units[0].in_transition, c.in_transition);
    EXPECT_EQ(status.units[0].report.data_state, c.unit0_state);
    EXPECT_FALSE(status.units[1].in_transition);  // a different work unit: settled
    const std::string metrics = vorstat::format_prometheus(status);
    EXPECT_NE(metrics.find(c.in_transition ? "\nvorcnt_folders_in_transition 2\n" : "\nvorcnt_folders_in_transition 0\n"),
              std::string::npos);
    EXPECT_NE(metrics.find("\nvorcnt_units{state=\"Data_Calculation_wait\"} 1\n"), std::string::npos) << metrics;
    EXPECT_EQ(vorstat::format_table(status).find("in transition: client unit0 ") != std::string::npos, c.in_transition);
    // A unit left out while it moves gives no horizon, never "run dry".
    testing::FakeClock utc;
    const vorstat::Outlook o = vorstat::make_outlook(vorstat::count_buffer(status), {7200, 7200, 7200}, {}, 0, utc, kNow);
    EXPECT_EQ(o.seconds_left, c.in_transition ? -1 : 2 * 7200.0);
  }
}

// --- metrics file ------------------------------------------------------------

TEST(VorstatPrometheus, GaugesOfTheRunningBufferWrittenWholeAndNothingPrinted) {
  ScratchDir dir;
  lay_out_running_buffer(dir);
  dir.write("unit3/version.vwu", "");  // a second waiting unit, younger than unit0
  dir.write("unit3/work_unit.vwu", "data3");
  dir.set_mtime("unit3/work_unit.vwu", kNow - 60);
  // A unit -fill parked as Data_Calculation waits too, and is the oldest.
  lay_out(dir, {{"unit4/version.vwu", ""}, {"unit4/work_unit.vwu", "data4"}, {"unit4/state.vwu", "prog=0\n"}});
  dir.set_mtime("unit4/work_unit.vwu", kNow - 9000);
  dir.write("damaged/unit1/result.vwu", "torn");  // counted, never a unit's
  dir.write("vorcnt.nowork", "vorcnt.nowork 1\nunit=2 since=5 asked=5 retry_at=3605 pause=3600\nend\n");
  ScratchDir out;
  out.write("vorcnt.prom", "old contents\n");
  const Outcome r = run({"--prometheus", out.path() + "vorcnt.prom", dir.path()});
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.out, "");
  // The samples; each family has one HELP and one TYPE gauge line (the
  // exposition parser in the packaging check reads the whole file).
  std::string samples;
  int gauges = 0;
  std::istringstream text(out.read("vorcnt.prom"));
  for (std::string line; std::getline(text, line);) {
    if (line.starts_with("# TYPE ")) gauges += line.ends_with(" gauge");
    if (!line.starts_with("#")) samples += line + "\n";
  }
  EXPECT_EQ(gauges, 21);
  EXPECT_EQ(samples,
            "vorcnt_scrape_ok 1\nvorcnt_client_folder_present 1\nvorcnt_unit_folders 5\n"
            "vorcnt_units{state=\"Data_nothing\"} 1\nvorcnt_units{state=\"Data_Calculation\"} 1\n"
            "vorcnt_units{state=\"Data_Calculation_completion\"} 1\nvorcnt_units{state=\"Data_Sending\"} 0\n"
            "vorcnt_units{state=\"Data_Receiving\"} 0\nvorcnt_units{state=\"Data_Calculation_wait\"} 2\n"
            "vorcnt_folders_in_transition 0\n"
            "vorcnt_client_state{state=\"Data_nothing\"} 0\nvorcnt_client_state{state=\"Data_Calculation\"} 1\n"
            "vorcnt_client_state{state=\"Data_Calculation_completion\"} 0\nvorcnt_client_state{state=\"Data_Sending\"} 0\n"
            "vorcnt_client_state{state=\"Data_Receiving\"} 0\nvorcnt_client_state{state=\"Data_Calculation_wait\"} 0\n"
            "vorcnt_client_progress_ratio 0.375\nvorcnt_client_result_present 0\nvorcnt_damaged_files 1\nvorcnt_client_unchanged_seconds 75\n"
            "vorcnt_clock_ahead 0\nvorcnt_oldest_waiting_work_unit_age_seconds 9000\nvorcnt_units_waiting_for_work 1\n"
            "vorcnt_controller_up 0\nvorcnt_units_waiting_to_compute 3\nvorcnt_units_waiting_to_send 1\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), fs::directory_iterator()), 1);  // no temporary left

  // A file that cannot be written: one line, status 1, the old file kept.
  const Outcome nowhere = run({"--prometheus", out.path() + "no-such-folder/vorcnt.prom", dir.path()});
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_EQ(nowhere.errors.rfind("vorstat: cannot create " + out.path() + "no-such-folder/vorcnt.prom.", 0), 0u)
      << nowhere.errors;
  // A name a folder holds: written and synced, the rename fails; one line,
  // status 1, and the side file does not stay behind.
  out.mkdir("taken.prom");
  const Outcome taken = run({"--prometheus", out.path() + "taken.prom", dir.path()});
  EXPECT_EQ(taken.status, 1);
  EXPECT_EQ(taken.errors.rfind("vorstat: cannot rename " + out.path() + "taken.prom.", 0), 0u) << taken.errors;
  EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), fs::directory_iterator()), 2);
}

// --- read-only ---------------------------------------------------------------

TEST(VorstatReadOnly, LeavesEveryFileAndTimeAsItWas) {
  ScratchDir dir;
  lay_out_running_buffer(dir);
  dir.write("user_info.vwu", "id=7\nname=Someone\nnwus=3\n");
  dir.write("unit3/wtemp.vwu", "partial");
  dir.write("unit3/user_info.vwu", "id=8\n");
  // Old times everywhere, so that any write would show.
  for (const auto& e : fs::recursive_directory_iterator(dir.path()))
    dir.set_mtime(fs::relative(e.path(), dir.path()).string(), kNow - 100000);
  dir.set_mtime("", kNow - 100000);
  const auto before = dir.tree(true);
  EXPECT_EQ(run({dir.path()}).status, 0);
  EXPECT_EQ(run({"--json", dir.path()}).status, 0);
  EXPECT_EQ(dir.tree(true), before);
}

// --- unit folders ------------------------------------------------------------

TEST(VorstatScan, StopsAtTheFirstGapAndNeverCountsPastUnit15) {
  ScratchDir gap, dir;
  lay_out(gap, {{"unit0/", ""}, {"unit1/", ""}, {"unit3/", ""}});
  EXPECT_EQ(json_report(gap.path()).unit_count(), 2);
  for (int n = 0; n <= 17; ++n) dir.mkdir("unit" + std::to_string(n));
  const JsonReport j = json_report(dir.path());
  EXPECT_EQ(j.unit_count(), 16);
  EXPECT_NE(j.unit(15), "");
}

// --- text in the JSON --------------------------------------------------------

// Control bytes from the client's files never reach a terminal raw: an ESC
// could rewrite the screen. JSON escapes them its way, the table as \xNN.
TEST(VorstatText, ControlBytesFromClientFilesAreEscapedInJsonAndTable) {
  ScratchDir dir;
  dir.write("user_info.txt", "id=1\x1b]0;t\x07\nname=say \"hi\" C:\\x\ttab\x01\x7f\x1b[2J end\nkey=SECRETKEY\n");
  const std::string client = json_report(dir.path()).client();
  EXPECT_TRUE(has_field(client, "name", R"("say \"hi\" C:\\x\ttab\u0001\u007f\u001b[2J end")"));
  EXPECT_TRUE(has_field(client, "id", R"("1\u001b]0;t\u0007")"));
  EXPECT_FALSE(has_key(client, "key"));
  const Outcome table = run({dir.path()});
  EXPECT_NE(table.out.find("\nclient  id=1\\x1B]0;t\\x07 name=say \"hi\" C:\\x\\ttab\\x01\\x7F\\x1B[2J end nwus="),
            std::string::npos)
      << table.out;
  EXPECT_EQ(table.out.find_first_of("\x1b\x07\x01\x7f\t"), std::string::npos);
}

TEST(VorstatJson, TurnsCodePage932IntoUnicode) {
  ScratchDir dir;
  // name: two kanji, a half-width katakana and a backslash, which is ASCII in
  // this code page; venue: 0xFF and a lone lead byte, neither a character.
  dir.write("user_info.txt", "id=1\nname=\x93\xfa\x96\x7b\xb1\\\nvenue=\xff\x81\n");
  const std::string client = json_report(dir.path()).client();
  EXPECT_TRUE(has_field(client, "name", R"("\u65e5\u672c\uff71\\")"));
  EXPECT_TRUE(has_field(client, "venue", R"("\ufffd\ufffd")"));
}

TEST(VorstatJson, FolderNamesInUtf8OrCodePage932BothReadBack) {
  ScratchDir dir;
  dir.mkdir("\xf0\x9f\x93\x81/unit0");  // U+1F4C1 in UTF-8, beyond the 16-bit range
  dir.mkdir("\x83\x66/unit0");          // U+30C7 in code page 932
  EXPECT_TRUE(has_field(json_report(dir.path() + "\xf0\x9f\x93\x81").text, "path",
                        "\"" + dir.path() + "\\ud83d\\udcc1/\""));
  EXPECT_TRUE(has_field(json_report(dir.path() + "\x83\x66").text, "path", "\"" + dir.path() + "\\u30c7/\""));
}

// A number too large for a double reads as infinity, which JSON cannot hold.
TEST(VorstatJson, InfiniteNumbersFromTheStateFileBecomeNull) {
  ScratchDir dir;
  lay_out(dir, {kVersion, {"work_unit.vwu", "x"}, {"state.vwu", "prog=1e999\ncpu=-1e999\n"}});
  const std::string client = json_report(dir.path()).client();
  EXPECT_TRUE(has_field(client, "state", "1"));
  EXPECT_TRUE(has_field(client, "progress", "null"));
  EXPECT_TRUE(has_field(client, "cpu", "null"));
  EXPECT_NE(run({dir.path()}).out.find("client  1 Data_Calculation                    ?          ?"), std::string::npos);
}

TEST(VorstatJson, UserInfoAppearsOnlyWhereTheFileIs) {
  ScratchDir dir;
  lay_out(dir, {{"user_info.txt", "id=42\nnwus=12\nnresults=11\ntotal_cpu=1.5e3\n"}, {"unit0/", ""}});
  const JsonReport j = json_report(dir.path());
  for (const auto& [name, value] : std::vector<std::pair<const char*, const char*>>{
           {"id", "\"42\""}, {"nwus", "12"}, {"nresults", "11"}, {"total_cpu", "1500.0"}, {"name", "\"\""}})
    EXPECT_TRUE(has_field(j.client(), name, value));
  EXPECT_FALSE(has_key(j.unit(0), "id"));
  EXPECT_FALSE(has_key(j.unit(0), "nwus"));

  const Outcome table = run({dir.path()});
  EXPECT_NE(table.out.find("\nuser info:\nclient  id=42 name= nwus=12 nresults=11 total_cpu=25m00s\n"),
            std::string::npos)
      << table.out;
}

// --- which folder ------------------------------------------------------------

// Run from a scratch current folder: the folder named by exec in vorcnt.cfg,
// cut after its last separator; without the file the current folder; or the
// argument, which may begin with a dash after "--".
TEST(VorstatPath, ComesFromExecInVorcntCfgTheCurrentFolderOrTheArgument) {
  ScratchDir dir;
  const std::string d = dir.path();
  lay_out(dir, {{"cfg/client/unit0/work_unit.txt", "w"},
                {"cfg/vorcnt.cfg", "# settings\nexec = " + d + "cfg/client\\Vorelith.exe  \r\n"},
                {"plain/unit0/", ""},
                {"dash/-odd/unit0/", ""}});
  const struct {
    const char* cwd;
    std::vector<std::string> args;
    std::string path;
    const char* unit0_state;
  } cases[] = {{"cfg", {"--json"}, "\"" + d + "cfg/client\\\\\"", "5"},
               {"plain", {"--json"}, R"("./")", "0"},
               {"dash", {"--json", "--", "-odd"}, R"("-odd/")", "0"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cwd);
    ScopedCwd here(d + c.cwd);
    const JsonReport j = json_of(c.args);
    EXPECT_TRUE(has_field(j.text, "path", c.path));
    ASSERT_EQ(j.unit_count(), 1);
    EXPECT_TRUE(has_field(j.unit(0), "state", c.unit0_state));
  }
}

TEST(VorstatPath, BadCfgLinesAreReportedButDoNotStopTheReport) {
  ScratchDir dir;
  lay_out(dir, {{"vorcnt.cfg", "FOO = 1\nEXEC = " + dir.path() + "\n"}});
  ScopedCwd here(dir.path());
  const Outcome r = run({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.errors.rfind("vorstat: vorcnt.cfg: ", 0), 0u) << r.errors;
  EXPECT_EQ(r.out.rfind("Client folder: " + dir.path() + " (0 unit folders)\n", 0), 0u) << r.out;
}

// A value without a separator names no folder; the current folder is not
// reported in its place. (A folder that is not there: VorstatSight.)
TEST(VorstatPath, AnExecTheControllerRefusesIsAnError) {
  ScratchDir dir;
  lay_out(dir, {{"nowhere/", ""}, {"vorcnt.cfg", "EXEC = nowhere\n"}});
  ScopedCwd here(dir.path());
  const Outcome r = run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, "vorstat: vorcnt.cfg: bad arg: EXEC names no folder: end the client folder with a folder separator\n");
  EXPECT_EQ(r.out, "");
}

// --- a folder the report cannot see ---------------------------------------------

// One line naming the folder ('@') and the cause, status 1, nothing on
// stdout, and a metrics file saying the scrape failed with no other figure.
// A folder with any sign of a client or a controller is read as before.
TEST(VorstatSight, AFolderItCannotSeeGivesOneLineStatusOneAndAFailedScrape) {
  ScratchDir out;
  // Whoever may read anything (root, a system without these bits) cannot show the closed rows.
  out.write("probe", "");
  fs::permissions(out.path() + "probe", fs::perms::none);
  const bool can_close = !std::ifstream(out.path() + "probe").is_open();
  fs::permissions(out.path() + "probe", fs::perms::owner_all);
  const char* kNoFolder = "vorcnt_scrape_ok 0\nvorcnt_client_folder_present 0\n";
  const char* kFailed = "vorcnt_scrape_ok 0\n";
  const struct {
    const char* label;
    std::vector<File> files;  // no client folder at all without any
    const char* closed;       // made unreadable to us; "." the folder itself
    const char* said;         // after "cannot read the client folder '@': " for a closed one; "" read as before
    const char* samples;
  } cases[] = {
      {"missing", {}, "", "no client folder at '@'", kNoFolder},
      {"empty", {{"sub/", ""}}, "", "'@' is no client folder: it holds no Vorelith.exe, none of the client's files, "
                                    "no unit0 and no vorcnt.* file", kNoFolder},
      {"program_only", {{"Vorelith.exe", ""}}, "", "", ""},
      {"config_only", {{"vorcnt.cfg", ""}}, "", "", ""},
      {"client_file_in_capitals", {{"OUTFILE.TXT", ""}}, "", "", ""},
      {"folder_closed", {{"unit0/", ""}}, ".", "it cannot be listed (Permission denied)", kFailed},
      {"unit_closed", {{"unit0/", ""}, {"unit1/state.vwu", ""}}, "unit1", "unit1 cannot be listed (Permission denied)", kFailed},
      {"file_closed", {{"unit0/", ""}, {"vorcnt.status", ""}}, "vorcnt.status",
       "vorcnt.status cannot be opened (Permission denied)", kFailed},
      {"unit_file_closed", {{"unit0/state.vwu", ""}}, "unit0/state.vwu",
       "unit0\\state.vwu cannot be opened (Permission denied)", kFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchDir parent;
    const std::string path = parent.path() + "client/";
    for (const File& f : c.files) lay_out(parent, {{"client/" + f.name, f.contents}});
    const fs::path closed = fs::path(path) / (std::string(c.closed) == "." ? "" : c.closed);
    if (*c.closed != '\0' && !can_close) {
      std::cout << "skipped: " << c.label << " (this user may read what is closed)\n";
      continue;
    }
    if (*c.closed != '\0') fs::permissions(closed, fs::perms::none);
    const Outcome table = run({path});
    const Outcome metrics = run({"--prometheus", out.path() + "vorcnt.prom", path});
    if (*c.closed != '\0') fs::permissions(closed, fs::perms::owner_all);
    if (*c.said == '\0') {
      EXPECT_EQ(table.status, 0) << table.errors;
      continue;
    }
    std::string line = std::string("vorstat: ") + (*c.closed ? "cannot read the client folder '@': " : "") + c.said + "\n";
    line.replace(line.find('@'), 1, path);
    EXPECT_EQ(table.status, 1);
    EXPECT_EQ(metrics.status, 1);
    EXPECT_EQ(table.errors + table.out + metrics.errors, line + line);
    EXPECT_EQ(std::regex_replace(out.read("vorcnt.prom"), std::regex("#[^\n]*\n"), ""), c.samples);
  }
  // Plain vorstat in a folder that is no client folder says the same of it.
  ScratchDir plain;
  ScopedCwd here(plain.path());
  EXPECT_EQ(run({}).errors.rfind("vorstat: './' is no client folder: ", 0), 0u);
}

// --- usage -------------------------------------------------------------------

struct UsageCase {
  const char* label;
  std::vector<std::string> args;
  const char* message;
};

class BadUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(BadUsage, ExitsWithTwoAndSaysWhy) {
  const Outcome r = run(GetParam().args);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.errors.rfind(GetParam().message, 0), 0u) << r.errors;
  EXPECT_NE(r.errors.find("\nUsage: vorstat [--json] [--prometheus FILE] [--version] [--help] [PATH]"), std::string::npos);
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Vorstat, BadUsage,
    ::testing::Values(UsageCase{"misspelt_option", {"--jsn"}, "vorstat: unknown option '--jsn'\n"},
                      UsageCase{"short_option", {"-x", "."}, "vorstat: unknown option '-x'\n"},
                      UsageCase{"two_folders", {"a", "b"}, "vorstat: give one folder only ('a' and 'b')\n"},
                      UsageCase{"two_folders_around_double_dash", {"--json", ".", "--", "b"},
                                "vorstat: give one folder only ('.' and 'b')\n"},
                      UsageCase{"empty_folder", {""}, "vorstat: the folder name is empty\n"},
                      UsageCase{"prometheus_without_file", {".", "--prometheus"}, "vorstat: --prometheus needs a FILE\n"},
                      UsageCase{"control_bytes_shown_escaped", {"--bad\x1b[2J"},
                                "vorstat: unknown option '--bad\\x1B[2J'\n"}),
    [](const ::testing::TestParamInfo<UsageCase>& case_info) { return std::string(case_info.param.label); });

TEST(VorstatUsage, HelpPrintsUsageAndExitsWithZero) {
  const Outcome r = run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: vorstat [--json] [--prometheus FILE] [--version] [--help] [PATH]\n", 0), 0u);
  EXPECT_EQ(r.errors, "");
  const Outcome v = run({"--version", "no-such-folder"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.rfind("vorstat ", 0), 0u);
  EXPECT_EQ(v.out.find('\n'), v.out.size() - 1);
}

// The journal's bytes from memory.
class TextJournal final : public vorstat::JournalBytes {
 public:
  explicit TextJournal(std::string text) : text_(std::move(text)) {}
  std::uint64_t size() override { return text_.size(); }
  long read_at(std::uint64_t offset, char* buf, std::size_t n) override {
    if (offset >= text_.size()) return 0;
    return static_cast<long>(text_.copy(buf, n, static_cast<std::size_t>(offset)));
  }

 private:
  std::string text_;
};

// A journal of two days, a line it cannot read, and a line still being
// written; "now" is 2025-12-07 12:00 at UTC+9. Written with LF (POSIX) or
// CR LF (Windows) line ends, it reads the same.
TEST(VorstatHistory, CountsPerDayLastConnectionAndHowLongTheBufferLasts) {
  for (const char* line_end : {"\n", "\r\n"}) {
  SCOPED_TRACE(line_end[0] == '\r' ? "CR LF" : "LF");
  std::string text = std::string("time\tunit\tevent\tidentity\tdetail\n") +
                           "2025-12-05T23:00:00+09:00\t0\tconnected\taaaaaaaaaaaa\tsent=yes new_work=yes\n"
                           "2025-12-05T23:30:00+09:00\t1\tconnected\tbbbbbbbbbbbb\tsent=yes new_work=yes\n"
                           "2025-12-06T01:00:00+09:00\t-\tfill_complete\t-\t\n"
                           "garbage without tabs\n"
                           "2025-12-06T10:00:00+09:00\t0\tcomputed\tcccccccccccc\tprogress=100.000000 cpu=9.0 wall=7.0\n"
                           // A connection under way has not finished: not the last one.
                           "2025-12-06T11:00:00+09:00\t0\tconnect_start\tcccccccccccc\t\n"
                           "2025-12-07T11:00:00+09:00\t1\tpop_compute\tbbbbbbbbbbbb\t\n"
                           "2025-12-07T11:30:00+09:00\t1\tcomp";
  for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += std::strlen(line_end))
    text.replace(at, 1, line_end);
  const LocalTime now = civil_time(1765076400, 9 * 3600);  // 2025-12-07T12:00:00+09:00
  TextJournal journal(text);
  vorstat::HistorySummary h;
  ASSERT_TRUE(vorstat::summarize_journal(journal, 2, now, &h));
  ASSERT_EQ(h.events.size(), 2u);
  EXPECT_EQ(h.events.back().detail, "");  // no CR left over
  EXPECT_EQ(h.total_events, 6);
  EXPECT_EQ(h.skipped, 1);
  EXPECT_EQ(h.per_day.front().first, "2025-12-01");
  EXPECT_EQ(h.per_day.back().first, "2025-12-07");
  EXPECT_EQ(h.per_day[5], (std::pair<std::string, int>{"2025-12-06", 1}));
  EXPECT_EQ(h.last_connection, "2025-12-05T23:30:00+09:00");
  EXPECT_EQ(h.units_waiting, 1);  // unit0 was computed; unit1 is still to do
  // One unit in the 37 hours since the journal began.
  EXPECT_NEAR(h.rate_per_day, 24.0 / 37.0, 1e-9);
  EXPECT_EQ(h.unit_seconds, std::vector<double>{7.0});  // the wall clock's, not the CPU time

  testing::FakeClock utc;
  vorstat::BufferCounts counts;
  counts.to_compute = h.units_waiting;
  const vorstat::Outlook o = vorstat::make_outlook(counts, h.unit_seconds, {}, h.last_connection_utc, utc, now.utc_seconds);
  const std::string table = vorstat::format_history_table(h, o, "h.tsv");
  EXPECT_EQ(table.rfind("History: h.tsv (6 events, 1 unreadable lines skipped)\n", 0), 0u) << table;
  EXPECT_EQ(table.find("fill_complete"), std::string::npos);  // only the last two events
  EXPECT_NE(table.find("\n2025-12-07T11:00:00+09:00 1    pop_compute   bbbbbbbbbbbb \n"), std::string::npos) << table;
  EXPECT_NE(table.find("Units waiting to compute: 1\nUnits done and waiting to send: 0\n"
                       "Computed in the last 7 days: 1 (0.6 per day)\n"
                       "Buffer: not enough computed units yet to tell how long the work lasts\n"),
            std::string::npos)
      << table;
  ASSERT_TRUE(vorstat::summarize_journal(journal, 1, now, &h));
  const std::string json = vorstat::format_history_json(h, o, "h.tsv");
  EXPECT_EQ(json.rfind("{\n  \"schema\": 1,\n  \"file\": \"h.tsv\",\n", 0), 0u) << json;
  EXPECT_NE(json.find("\"events\": [\n    {\"time\": \"2025-12-07T11:00:00+09:00\", \"unit\": 1"), std::string::npos)
      << json;
  EXPECT_NE(json.find("\"units_waiting\": 1,"), std::string::npos);
  }
}

// A journal written a moment ago counts what it holds: its units are
// computed today, not "nothing in the last 7 days".
TEST(VorstatHistory, AJournalLessThanASecondOldCountsItsUnits) {
  std::string text = "time\tunit\tevent\tidentity\tdetail\n";
  for (int i = 0; i < 4; ++i) text += "2025-12-07T12:00:00+09:00\t0\tcomputed\t-\tprogress=100 cpu=7200.0\n";
  const LocalTime now = civil_time(1765076400, 9 * 3600);
  TextJournal journal(text);
  vorstat::HistorySummary h;
  ASSERT_TRUE(vorstat::summarize_journal(journal, 0, now, &h));
  testing::FakeClock utc;
  const vorstat::Outlook o = vorstat::make_outlook({}, h.unit_seconds, {}, 0, utc, now.utc_seconds);
  EXPECT_NE(vorstat::format_history_table(h, o, "h").find("Computed in the last 7 days: 4 (4.0 per day)\n"),
            std::string::npos);
}

// The horizon: 5 units waiting and one half done at a median of 2 hours
// last 11 hours; too few computed units say so; a window opening later is
// named. A unit's time is the wall-clock one its "computed" line gives, never
// its CPU time; a figure in another form or beyond credence is left out.
TEST(VorstatHorizon, WaitingUnitsTimesTheMedianPlusWhatIsLeftOfTheRunningOne) {
  const struct {
    const char* detail;
    double seconds;  // 0: left out
  } rows[] = {{"progress=100.000000 cpu=0.0 wall=7200.0", 7200}, {"cpu=99999.0 wall=1800.0", 1800},
              {"progress=100.000000 cpu=7200.0", 0},  // not seen from its start
              {"wall=7200", 7200}, {"cpu=1e308 wall=9000.0", 9000}, {"wall=-5.0", 0}, {"wall=nan", 0},
              {"wall=inf", 0}, {"wall=1e3", 0}, {"wall=0x10", 0}, {"wall=31622401.0", 0}, {"wall=0.0", 0},
              {"wall=7200.0s", 0}, {"wall=", 0}, {"wall=.5", 0}, {"xwall=60.0", 0}, {"wall=7200.0", 7200}};
  std::string text = "time\tunit\tevent\tidentity\tdetail\n";
  std::vector<double> kept;
  for (const auto& row : rows) {
    text += std::string("2025-12-07T04:00:00+00:00\t2\tcomputed\t-\t") + row.detail + "\n";
    if (row.seconds > 0) kept.push_back(row.seconds);
  }
  TextJournal journal(text);
  vorstat::HistorySummary h;
  const std::int64_t now = 1765098000;  // 2025-12-07T09:00:00Z
  ASSERT_TRUE(vorstat::summarize_journal(journal, 0, civil_time(now, 0), &h));
  EXPECT_EQ(h.unit_seconds, kept);
  vorstat::BufferCounts counts{5, 2, true, 0.5};
  testing::FakeClock utc;
  vorstat::Outlook o = vorstat::make_outlook(counts, h.unit_seconds, {}, 0, utc, now);
  EXPECT_DOUBLE_EQ(o.seconds_left, 11 * 3600.0);
  EXPECT_EQ(vorstat::horizon_text(o), "work for about 11h00m; the buffer runs dry about 2025-12-07 20:00");
  ConnectWindow window{22 * 60, 23 * 60};
  o = vorstat::make_outlook(counts, h.unit_seconds, window, 0, utc, now);
  EXPECT_TRUE(o.dry_before_window);
  EXPECT_EQ(vorstat::horizon_text(o), "work for about 11h00m; the buffer runs dry about 2025-12-07 20:00, "
                                      "before the connection window opens (2025-12-07 22:00)");
  counts.to_compute = 40;
  o = vorstat::make_outlook(counts, h.unit_seconds, window, 0, utc, now);
  EXPECT_EQ(vorstat::horizon_text(o), "work for about 3d09h; the buffer runs dry about 2025-12-10 18:00");
  o = vorstat::make_outlook(counts, {7200, 7200, 1e308}, window, 0, utc, now);
  EXPECT_EQ(vorstat::horizon_text(o), "not enough computed units yet to tell how long the work lasts");
  counts.to_compute = 2'000'000'000;  // no buffer holds as many: no figure
  o = vorstat::make_outlook(counts, h.unit_seconds, window, 0, utc, now);
  EXPECT_EQ(vorstat::horizon_text(o), "how long the work lasts is unknown");

  // The last 20 computed units set the pace, not the journal's first ones.
  text = "time\tunit\tevent\tidentity\tdetail\n";
  for (int i = 0; i < 30; ++i) text += std::string("2025-12-07T04:00:00+00:00\t2\tcomputed\t-\twall=") + (i < 10 ? "3600.0\n" : "10800.0\n");
  TextJournal later(text);
  ASSERT_TRUE(vorstat::summarize_journal(later, 0, civil_time(now, 0), &h));
  o = vorstat::make_outlook({}, h.unit_seconds, {}, 0, utc, now);
  EXPECT_EQ(o.unit_seconds, 10800);
  EXPECT_EQ(o.samples, 20);
}

// Hostile numbers in the journal and the state file (a corrupt state.vwu
// gives them) are no figure, and every report stays whole; units of more
// than a day read as days. Three units of 30 hours (wall clock; their CPU
// time is more) and a half-done one: 1.5 x 30 h = 1d21h.
TEST(VorstatHorizon, HostileNumbersLeaveEveryReportWholeAndDaysReadAsDays) {
  ScratchDir dir;
  lay_out(dir, {kVersion, {"work_unit.vwu", "w"}, {"state.vwu", "prog=0.5\ncpu=1e308\n"}, {"unit0/version.vwu", ""},
                {"unit0/work_unit.vwu", "w0"}, {"vorcnt.cfg", "HISTORY = h.tsv\n"}});
  std::string journal = "time\tunit\tevent\tidentity\tdetail\n";
  for (const char* detail : {"cpu=400000.0 wall=100000.0", "cpu=1e308", "cpu=-5", "cpu=nan wall=nan",
                             "wall=1e308", "cpu=400000.0 wall=116000.0", "cpu=400000.0 wall=108000.0"})
    journal += std::string("2023-11-14T11:00:00+00:00\t1\tcomputed\t-\tprogress=100.000000 ") + detail + "\n";
  journal += "2023-11-14T12:00:00+00:00\t1\tcalc_start\t-\t\n";  // after its finish
  dir.write("h.tsv", journal);
  ScopedCwd here(dir.path());
  const auto line_of = [](const std::string& text, const std::string& start) {
    const std::size_t at = text.find("\n" + start);
    return at == std::string::npos ? std::string() : text.substr(at + 1, text.find('\n', at + 1) - at - 1);
  };
  const std::string dry = "work for about 1d21h; the buffer runs dry about ";
  const Outcome table = run({});
  EXPECT_EQ(line_of(table.out, dry).size(), dry.size() + 16) << table.out;  // YYYY-MM-DD HH:MM
  EXPECT_NE(table.out.find("\nclient  1 Data_Calculation               50.00%          ?"), std::string::npos) << table.out;
  const std::string json = run({"--json"}).out;
  EXPECT_TRUE(has_field(JsonReport{json}.client(), "cpu", "null"));
  for (const char* figure : {"\"unit_seconds_median\": 108000.0,", "\"computed_units_timed\": 3,",
                             "\"buffer_seconds_left\": 162000.0,", "\"buffer_runs_dry_timestamp_seconds\": 1700162000.0,"})
    EXPECT_NE(json.find(figure), std::string::npos) << figure << "\n" << json;
  EXPECT_EQ(run({"--prometheus", dir.path() + "m.prom"}).status, 0);
  EXPECT_NE(dir.read("m.prom").find("\nvorcnt_buffer_seconds_left 162000\n"), std::string::npos) << dir.read("m.prom");
  const std::string history = run({"--history"}).out;
  EXPECT_EQ(line_of(history, "Buffer: " + dry).size(), 8 + dry.size() + 16) << history;
  const std::string history_json = run({"--history", "--json"}).out;
  EXPECT_NE(history_json.find("\n  \"unit_seconds_median\": 108000.000,\n  \"buffer_lasts_s\": 162000.000,\n"),
            std::string::npos) << history_json;
  // A progress no client reports is no figure either.
  for (const char* prog : {"prog=-5\n", "prog=1e400\n"}) {
    dir.write("state.vwu", prog);
    EXPECT_NE(run({}).out.find("\nclient  1 Data_Calculation                    ?"), std::string::npos) << prog;
    EXPECT_TRUE(has_field(JsonReport{run({"--json"}).out}.client(), "progress", "null")) << prog;
    EXPECT_EQ(run({"--prometheus", dir.path() + "m.prom"}).status, 0);
    EXPECT_EQ(dir.read("m.prom").find("\nvorcnt_client_progress_ratio "), std::string::npos) << prog;
  }
}

// The controller's status file, read against its lock: alive while a
// controller holds the folder, "not running" with its last word after. A
// unit's percentage is the client's, read now, never the file's older one.
// The unit it names, whose folder is empty while its files are in the client
// folder, reads as what the controller does with it; without a controller
// to say so, no folder is taken for it.
TEST(VorstatController, StatusFileIsBelievedOnlyWhileTheLockIsHeldAndItsPercentageNever) {
  const char* kComputing = "progress=1.0\nwait=client_computing\nstatus=computing unit2 (1 %)\n";
  const struct {
    std::vector<File> client;  // laid over the running buffer, the client at 74.1 %
    const char* file;          // the status file's keys that differ
    const char* shown;
    const char* progress;
    const char* client_words;  // the client's row and unit2's, under the lock
    const char* unit2_words;
  } cases[] = {
      {{}, kComputing, "computing unit2 (74 %)", "74.1", "computing", "computing, in the client folder"},
      {{{"result.vwu", "r"}, {"state.vwu", "prog=1\n"}}, kComputing, "computing unit2", "null",  // the client is done
       "computed, waiting to send", "computing, in the client folder"},
      {{}, "state=waiting_to_connect\nprogress=-1.0\nwait=window\nstatus=waiting for the connection window (opens 22:00)\n",
       "waiting for the connection window (opens 22:00)", "null", "partly computed", "in the client folder, waiting to connect"},
      {{{"state.vwu", ""}, {"work_unit.vwu", ""}}, "state=connecting\nprogress=-1.0\nwait=connection\nstatus=connecting unit2\n",
       "connecting unit2", "null", "connecting", "connecting, in the client folder"},
  };
  const auto words_of = [](const std::string& table, const std::string& label) {
    const std::size_t at = table.find("\n" + label + " ");
    return at == std::string::npos ? std::string() : table.substr(at + 1, table.find('\n', at + 1) - at - 1);
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    ScratchDir dir;
    lay_out_running_buffer(dir);
    lay_out(dir, {{"state.vwu", "cpu=5400\nprog=0.741\n"}});
    lay_out(dir, c.client);
    dir.write("vorcnt.status", std::string("pid=812\nstarted=1765098000\nchanged=1765101600\nstate=computing\nunit=2\n") +
                                   c.file + "wait_time=0\nlast_connection=0\nfuture=ignored\n");
    const std::string last_seen = run({dir.path()}).out;
    EXPECT_NE(last_seen.find("\ncontroller: not running (last seen 2025-12-07 1"), std::string::npos);
    EXPECT_TRUE(words_of(last_seen, "unit2").ends_with("  waiting for new work, or its unit is in the client folder"))
        << last_seen;
    ControllerLock lock;
    ASSERT_EQ(lock.take(dir.path().c_str()), ControllerLock::Outcome::taken);
    const std::string table = run({dir.path()}).out;
    EXPECT_NE(table.find(std::string("\ncontroller: running (pid 812) since 2025-12-07 ")), std::string::npos) << table;
    EXPECT_NE(table.find(std::string(":00, ") + c.shown + "\n"), std::string::npos) << table;
    EXPECT_TRUE(words_of(table, "client").ends_with(std::string("  ") + c.client_words)) << table;
    EXPECT_TRUE(words_of(table, "unit2").ends_with(std::string("  ") + c.unit2_words)) << table;
    const std::string json = json_report(dir.path()).line_starting("  \"controller\": {\"pid\": 812, \"started\": 1765098000");
    EXPECT_TRUE(has_field(json, "progress", c.progress));
    EXPECT_TRUE(has_field(json, "status", std::string("\"") + c.shown + "\""));
  }
}

// Every line the controller publishes is one vorstat can show in the
// user's language: a wording changed on one side only would leave it
// English there.
TEST(VorstatController, EveryStatusLineOfTheControllerIsOneVorstatTranslates) {
  testing::FakeClock clock;
  std::vector<ControllerStatus> statuses;
  for (const WaitKind wait : {WaitKind::none, WaitKind::client_computing, WaitKind::connection, WaitKind::window,
                              WaitKind::no_work, WaitKind::failure})
    for (const std::int32_t state : {Vorcon_CalcWait, Vorcon_Calc, Vorcon_CalcCompletion, Vorcon_ConnectionWait,
                                     Vorcon_Connection, Vorcon_ConnectCompletion, Vorcnt_error})
      for (const bool pop : {false, true})
        statuses.push_back({state, 3, pop ? 455 : -1, wait, kNow, pop, 0});
  for (const ControllerStatus& s : statuses) {
    char line[128];
    status_line(s, clock, line, sizeof line);
    int numbers[3] = {};
    EXPECT_NE(vorstat::status_format_of(line, numbers), nullptr) << line;
  }
  int numbers[3] = {};
  EXPECT_EQ(vorstat::status_format_of("computing unit3 (45 %) and more", numbers), nullptr);
}

// The journal's text reaches its JSON as the buffer report's does: each
// character beyond ASCII a \u escape, a byte that is not UTF-8 U+FFFD; and
// the one writer of both writes no number JSON cannot hold.
TEST(VorstatHistory, JsonEscapesTheJournalsTextAsTheBufferReportDoes) {
  for (const double bad : {HUGE_VAL, -HUGE_VAL, std::nan("")})
    EXPECT_EQ(vorstat::json_fixed(bad, 3) + " " + vorstat::json_number(bad), "null null");
  TextJournal journal("2025-12-07T12:00:00+09:00\t-\tno_work\t-\tcaf\xc3\xa9 \xff\x01 \xf0\x9f\x93\x81\n");
  vorstat::HistorySummary h;
  ASSERT_TRUE(vorstat::summarize_journal(journal, 1, civil_time(1765076400, 0), &h));
  const std::string json = vorstat::format_history_json(h, vorstat::Outlook{}, "h\xc3\xa9.tsv");
  EXPECT_NE(json.find("\"file\": \"h\\u00e9.tsv\","), std::string::npos) << json;
  EXPECT_NE(json.find("\"detail\": \"caf\\u00e9 \\ufffd\\u0001 \\ud83d\\udcc1\"}"), std::string::npos) << json;
  // The table shows a control byte escaped, never raw to the terminal.
  const std::string table = vorstat::format_history_table(h, vorstat::Outlook{}, "h.tsv");
  EXPECT_NE(table.find("\xFF\\x01 "), std::string::npos) << table;
}

// Read in blocks, forwards and from the end, the journal gives the same
// figures and last events whatever the block size: lines that span blocks,
// a line far longer than any the controller writes (skipped, never held
// whole), a header only at the start, and a tail still being written.
TEST(VorstatHistory, BlocksOfAnySizeGiveTheSameEvents) {
  std::string text = "time\tunit\tevent\tidentity\tdetail\n";
  for (int i = 0; i < 30; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "2025-12-07T10:%02d:00+09:00\t%d\tpush\t%012d\t\n", i, i % 16, i);
    text += line;
    if (i == 27) text += "2025-12-07T10:27:30+09:00\t1\tpush\t-\t" + std::string(10000, 'x') + "\n";
    if (i == 28) text += "time\tunit\tevent\tidentity\tdetail\n";
  }
  text += "2025-12-07T11:00:00+09:00\t1\tpu";
  const LocalTime now = civil_time(1765076400, 9 * 3600);
  for (const std::size_t block : {1, 2, 3, 7, 64, 4096, 65536}) {
    SCOPED_TRACE(block);
    TextJournal journal(text);
    vorstat::HistorySummary h;
    ASSERT_TRUE(vorstat::summarize_journal(journal, 3, now, &h, block));
    EXPECT_EQ(h.total_events, 30);
    EXPECT_EQ(h.skipped, 2);
    ASSERT_EQ(h.events.size(), 3u);
    EXPECT_EQ(h.events[0].time + h.events[1].time + h.events[2].time,
              "2025-12-07T10:27:00+09:002025-12-07T10:28:00+09:002025-12-07T10:29:00+09:00");
    EXPECT_EQ(h.events[2].unit, 13);
    EXPECT_EQ(h.events[2].identity, "000000000029");
    // Asked for more than there are: every event, the first one included.
    ASSERT_TRUE(vorstat::summarize_journal(journal, 100, now, &h, block));
    ASSERT_EQ(h.events.size(), 30u);
    EXPECT_EQ(h.events.front().identity, "000000000000");
  }
}

}  // namespace
}  // namespace vorcnt
