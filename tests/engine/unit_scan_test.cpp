#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/controller.h"

#include "engine/engine.h"
#include "engine/engine_fixture.h"

namespace vorcnt::testing {
namespace {

// Start-up scans of the unit folders, each checked in full: what is printed
// and run, how many units count, which one is current and in what state.
struct ScanRow {
  const char* name;
  std::vector<std::pair<const char*, std::int32_t>> layout;  // lay(folder, state); Data_nothing: an empty folder
  std::string output;
  EventLog log;  // "@" stands for the client folder, without its final separator
  int units_local;
  int unit;  // calculation_unit after
  std::int32_t vorcnt_state;
  std::vector<std::int32_t> unit_states;  // unit_state[0..] after
  std::int32_t mode = Mode_calc;
  int units = 2;
  void (*extra)(const EngineWorld&) = nullptr;  // more to lay out
  void (*then)(EngineWorld&) = nullptr;         // more that must hold
  friend void PrintTo(const ScanRow& row, std::ostream* out) { *out << row.name; }
};

class ScanTest : public EngineTest, public ::testing::WithParamInterface<ScanRow> {};

TEST_P(ScanTest, FindsTheUnitsAndTheCurrentOne) {
  const ScanRow& row = GetParam();
  for (const auto& [folder, state] : row.layout) lay(folder, state);
  if (row.extra != nullptr) row.extra(*this);
  ctx.calculation_unit = 0;
  ctx.mode = row.mode;
  ctx.units = row.units;
  unitscan(fake.os, ctx);
  EXPECT_EQ(fake.console.output, row.output);
  EventLog log = row.log;
  for (std::string& entry : log)
    for (std::size_t at; (at = entry.find('@')) != std::string::npos;) entry.replace(at, 1, P.substr(0, P.size() - 1));
  EXPECT_EQ(fake.log, log);
  EXPECT_EQ(ctx.units_local, row.units_local);
  EXPECT_EQ(ctx.calculation_unit, row.unit);
  EXPECT_EQ(ctx.vorcnt_state, row.vorcnt_state);
  for (std::size_t i = 0; i < row.unit_states.size(); ++i) EXPECT_EQ(ctx.unit_state[i], row.unit_states[i]) << i;
  if (row.then != nullptr) row.then(*this);
}

constexpr std::int32_t kWait = Data_Calculation_wait;
constexpr std::int32_t kNone = Data_nothing;
const std::string kFound00 = "[unit0] Dir find : 0\n[unit1] Dir find : 0\n";

std::string sixteen_found() {
  std::string out;
  for (int i = 0; i < kMaxUnits; ++i) out += "[unit" + std::to_string(i) + "] Dir find : 5\n";
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ScanTest,
    ::testing::Values(
        // The client folder's work takes the first empty unit, silently.
        ScanRow{"AGapEndsTheScan", {{"", kWait}, {"unit0", kNone}, {"unit1", kNone}, {"unit3", kWait}}, kFound00, {},
                2, 0, Vorcon_CalcWait, {kWait, kNone}},
        // mkdir fails for unit3, which exists; it is classified by its content.
        ScanRow{"FillingCreatesTheMissingFoldersUpToUnits",
                {{"", kWait}, {"unit0", kNone}, {"unit1", kNone}, {"unit3", kWait}},
                kFound00 + "[Unit2] Dir maiking. : 0\n[Unit3] Dir maiking. : 5\n",
                {"run: mkdir @/unit2", "run: mkdir @/unit3"}, 4, 0, Vorcon_CalcWait, {kWait, kNone, kNone, kWait},
                Mode_fill, 4,
                // The client's work unit is no cut-short copy of unit3's.
                [](const EngineWorld& w) { w.dir.write("work_unit.vwu", "client work"); },
                [](EngineWorld& w) { EXPECT_TRUE(w.dir.exists("unit2")); }},
        // The new folder keeps its own state, not the client folder's.
        ScanRow{"WorkWithNoEmptyUnitGetsANewFolder",
                {{"", Data_Calculation}, {"unit0", kWait}, {"unit1", Data_Calculation_completion}},
                "[unit0] Dir find : 5\n[unit1] Dir find : 2\n[Unit2] Dir maiking SUB. : 0\n", {"run: mkdir @/unit2"}, 3,
                2, Vorcon_CalcWait, {kWait, Data_Calculation_completion, kNone}},
        // A name that is no folder ends the units like a gap, and is never
        // made over or given the client's work.
        ScanRow{"APlainFileNamedUnit0IsPassedOverAndNeverAHome", {{"", kWait}},
                "unit0 is not a folder: it is passed over like a missing unit folder, and no unit folder from unit0 up "
                "is used\nThe client folder holds work and its new unit folder, unit0, is not a folder: nothing is "
                "moved; remove that name and restart\n",
                {}, 0, NO_UNIT, Vorcnt_error, {}, Mode_calc, 2,
                [](const EngineWorld& w) { w.dir.write("unit0", "not a folder"); },
                [](EngineWorld& w) { EXPECT_EQ(w.dir.read("unit0"), "not a folder"); }},
        ScanRow{"FillingStopsAtALinkToADevice", {{"", kWait}, {"unit0", kWait}},
                "[unit0] Dir find : 5\nunit1 is not a folder: it is passed over like a missing unit folder, and no "
                "unit folder from unit1 up is used\nThe client folder holds work and its new unit folder, unit1, is not "
                "a folder: nothing is moved; remove that name and restart\n",
                {}, 1, NO_UNIT, Vorcnt_error, {kWait}, Mode_fill, 3,
                [](const EngineWorld& w) { std::filesystem::create_symlink("/dev/null", w.P + "unit1"); },
                [](EngineWorld& w) { EXPECT_FALSE(w.dir.exists("unit2")); }},
        ScanRow{"WorkGoesToTheFirstEmptyUnit",
                {{"", Data_Calculation}, {"unit0", kWait}, {"unit1", kNone}, {"unit2", kNone}},
                "[unit0] Dir find : 5\n[unit1] Dir find : 0\n[unit2] Dir find : 0\n", {}, 3, 1, Vorcon_CalcWait,
                {kWait, Data_Calculation, kNone}},
        // No home, so nothing is done and the loop ends at once; unit16 is not looked at.
        ScanRow{"SixteenUnitsInUseMakeNoSeventeenth", {{"", Data_Calculation}},
                sixteen_found() + "unit16 and above are not used: 16 unit folders at most\n"
                                  "No free unit folder: all 16 are in use and the client folder holds work; free one and restart\n",
                {}, kMaxUnits, NO_UNIT, Vorcnt_error, {}, Mode_fill, 16,
                [](const EngineWorld& w) {
                  for (int i = 0; i <= kMaxUnits; ++i) w.lay("unit" + std::to_string(i), kWait);
                },
                [](EngineWorld& w) { EXPECT_FALSE(w.dir.exists("unit17")); }},
        // The oldest work unit is popped into the empty client folder.
        ScanRow{"AnEmptyClientFolderGetsTheSelectedUnit", {{"unit0", kWait}, {"unit1", kWait}},
                "[unit0] Dir find : 5\n[unit1] Dir find : 5\n[unitselect State_Data_Calculation]\n[Unit1]:" +
                    kWaitingToCompute + "\n[Unit1] pop\n",
                {"run: copy @/unit1\\*.vwu @", "sleep 1", "run: del @/unit1\\*.vwu"}, 2, 1, Vorcon_CalcWait,
                {kWait, kWait}, Mode_calc, 2,
                [](const EngineWorld& w) {
                  w.dir.set_mtime("unit0/work_unit.vwu", 2000);
                  w.dir.set_mtime("unit1/work_unit.vwu", 1000);
                },
                [](EngineWorld& w) { EXPECT_EQ(w.dir.read("work_unit.vwu"), "work unit1"); }},
        ScanRow{"NoUnitsAndNoWorkEndTheRun", {},
                "[unitselect State_Data_Calculation]\n" + kNothingToCompute +
                    "\n[unitselect State_Data_Calculation_completion]\nFILL Completion\n"
                    "unitselect: no unit to compute and none to send; stopping\n",
                {}, 0, NO_UNIT, Vorcnt_error, {}},
        ScanRow{"ModeErrorSelectsAndPopsNothing", {{"unit0", kWait}},
                "[unit0] Dir find : 5\nThe settings are in error and the client folder holds no work: nothing is "
                "started; correct them and restart\n",
                {}, 1, NO_UNIT, Vorcnt_error, {kWait}, Mode_error, 2, nullptr,
                [](EngineWorld& w) { EXPECT_TRUE(w.dir.exists("unit0/work_unit.vwu")); }}),
    [](const auto& row) { return std::string(row.param.name); });

class UpdateTest : public EngineTest {};

TEST_F(UpdateTest, UpdateDataStateReadsTheClientFolder) {
  lay("", Data_Calculation);
  dir.write("state.vwu", "prog=0.25\n");
  ctx.vorcnt_state = Vorcon_Calc;
  update_data_state(ctx);
  EXPECT_EQ(ctx.data_state, Data_Calculation);
  EXPECT_DOUBLE_EQ(ctx.progress, 25.0);
  EXPECT_EQ(ctx.vorcnt_state, Vorcon_Calc);

  std::filesystem::remove(P + "state.vwu");
  update_data_state(ctx);
  EXPECT_EQ(ctx.data_state, Data_Calculation_wait);
  EXPECT_DOUBLE_EQ(ctx.progress, 0.0);
}

// Work found in the client folder at start-up: where the first pass begins,
// and what it does first. unit0 is free for the work, unit1 waits to be
// computed; nothing may be popped on top of the work.
struct ResumeRow {
  const char* name;
  std::int32_t client_state;
  std::int32_t mode;
  std::int32_t begins_in;
  const char* first_command;  // "@" stands for the client folder
  bool empty_path = false;    // the commands act on the current folder
  friend void PrintTo(const ResumeRow& row, std::ostream* out) { *out << row.name; }
};

class ResumeTest : public EngineTest, public ::testing::WithParamInterface<ResumeRow> {};

TEST_P(ResumeTest, TheFirstPassFollowsTheClientFolder) {
  const ResumeRow& row = GetParam();
  lay("", row.client_state);
  if (dir.exists("work_unit.vwu")) dir.write("work_unit.vwu", "client work");  // no copy of unit1's
  dir.mkdir("unit0");
  lay("unit1", Data_Calculation_wait);
  const std::string before = dir.exists("work_unit.vwu") ? dir.read("work_unit.vwu") : "";
  std::optional<ScopedCwd> here;
  std::string client = P;
  if (row.empty_path) {
    here.emplace(P);
    set_path("");
    client = "";
  }
  ctx.mode = row.mode;
  ctx.vorcnt_state = row.mode == Mode_fill ? Vorcon_CalcCompletion : Vorcon_CalcWait;
  unitscan(fake.os, ctx);
  EXPECT_TRUE(fake.log.empty());
  EXPECT_EQ(ctx.calculation_unit, 0);
  EXPECT_EQ(ctx.vorcnt_state, row.begins_in);
  if (!before.empty()) {
    EXPECT_EQ(dir.read("work_unit.vwu"), before);
  }

  EXPECT_TRUE(loop_pass(fake.os, ctx));
  ASSERT_FALSE(fake.shell.commands_ran.empty());
  std::string first = row.first_command;
  for (std::size_t at; (at = first.find('@')) != std::string::npos;) first.replace(at, 1, client);
  EXPECT_EQ(fake.shell.commands_ran.front(), first);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ResumeTest,
    ::testing::Values(
        // A result that finished while no controller ran is recorded, never
        // restarted: the client would connect at once.
        ResumeRow{"FinishedIsRecorded", Data_Calculation_completion, Mode_calc, Vorcon_Calc, "vorclose -exit -echo off"},
        ResumeRow{"FinishedIsRecordedWithSettingsInError", Data_Calculation_completion, Mode_error, Vorcon_Calc,
                  "vorclose -exit -echo off"},
        ResumeRow{"ComputationResumes", Data_Calculation, Mode_calc, Vorcon_CalcWait, "@Vorelith.exe"},
        ResumeRow{"DownloadIsParked", Data_Receiving, Mode_calc, Vorcon_ConnectCompletion, "copy @*.vwu @unit0"},
        ResumeRow{"FillingPushesWhateverIsThere", Data_Calculation_wait, Mode_fill, Vorcon_CalcCompletion,
                  "copy @*.vwu @unit0"},
        // With no folder given the work in the current folder is seen as
        // such, not judged by the root folder and popped over.
        ResumeRow{"EmptyPathSeesTheCurrentFolder", Data_Calculation_wait, Mode_calc, Vorcon_CalcWait, "Vorelith.exe",
                  true}),
    [](const ::testing::TestParamInfo<ResumeRow>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vorcnt::testing
