#include <optional>
#include <ostream>
#include <string>

#include "app/controller.h"

#include "engine/engine.h"
#include "engine/engine_fixture.h"

namespace vorcnt::testing {
namespace {

class ScanTest : public EngineTest {
 protected:
  ScanTest() { ctx.calculation_unit = 0; }
};

TEST_F(ScanTest, AGapEndsTheScan) {
  lay("", Data_Calculation_wait);
  dir.mkdir("unit0");
  dir.mkdir("unit1");
  lay("unit3", Data_Calculation_wait);
  unitscan(fake.os, ctx);
  EXPECT_EQ(fake.console.output, "[unit0] Dir find : 0\n[unit1] Dir find : 0\n");
  EXPECT_EQ(ctx.units_local, 2);
  EXPECT_TRUE(fake.log.empty());
  // The client folder's work takes the first empty unit, silently.
  EXPECT_EQ(ctx.calculation_unit, 0);
  EXPECT_EQ(ctx.unit_state[0], Data_Calculation_wait);
}

TEST_F(ScanTest, FillingCreatesTheMissingFoldersUpToUnits) {
  lay("", Data_Calculation_wait);
  dir.write("work_unit.vwu", "client work");  // not a copy of unit3's
  dir.mkdir("unit0");
  dir.mkdir("unit1");
  lay("unit3", Data_Calculation_wait);
  ctx.mode = Mode_fill;
  ctx.units = 4;
  unitscan(fake.os, ctx);
  // mkdir fails for unit3, which exists; it is classified by its content.
  EXPECT_EQ(fake.log, (EventLog{"run: mkdir " + P + "unit2", "run: mkdir " + P + "unit3"}));
  EXPECT_EQ(fake.console.output,
            "[unit0] Dir find : 0\n[unit1] Dir find : 0\n[Unit2] Dir maiking. : 0\n[Unit3] Dir maiking. : 5\n");
  EXPECT_EQ(ctx.units_local, 4);
  EXPECT_TRUE(dir.exists("unit2"));
}

TEST_F(ScanTest, WorkWithNoEmptyUnitGetsANewFolder) {
  lay("", Data_Calculation);
  lay("unit0", Data_Calculation_wait);
  lay("unit1", Data_Calculation_completion);
  unitscan(fake.os, ctx);
  EXPECT_EQ(fake.log, (EventLog{"run: mkdir " + P + "unit2"}));
  EXPECT_EQ(fake.console.output, "[unit0] Dir find : 5\n[unit1] Dir find : 2\n[Unit2] Dir maiking SUB. : 0\n");
  EXPECT_EQ(ctx.calculation_unit, 2);
  EXPECT_EQ(ctx.units_local, 3);
  EXPECT_EQ(ctx.unit_state[2], Data_nothing);  // the new folder's own state, not the client folder's
}

TEST_F(ScanTest, APlainFileNamedUnit0CountsButIsNeverPushedInto) {
  lay("", Data_Calculation_wait);
  dir.write("unit0", "not a folder");
  unitscan(fake.os, ctx);
  EXPECT_EQ(fake.console.output, "[unit0] Dir find : 0\n");
  EXPECT_EQ(ctx.units_local, 1);
  EXPECT_EQ(ctx.calculation_unit, 0);
  EXPECT_FALSE(unitpush(fake.os, ctx.calculation_unit, ctx.path));
  EXPECT_TRUE(fake.log.empty());
  EXPECT_EQ(dir.read("unit0"), "not a folder");
}

TEST_F(ScanTest, WorkGoesToTheFirstEmptyUnit) {
  lay("", Data_Calculation);
  lay("unit0", Data_Calculation_wait);
  dir.mkdir("unit1");
  dir.mkdir("unit2");
  unitscan(fake.os, ctx);
  EXPECT_EQ(ctx.calculation_unit, 1);
  EXPECT_EQ(ctx.unit_state[0], Data_Calculation_wait);
  EXPECT_EQ(ctx.unit_state[1], Data_Calculation);
  EXPECT_EQ(ctx.unit_state[2], Data_nothing);
}

TEST_F(ScanTest, SixteenUnitsInUseMakeNoSeventeenth) {
  lay("", Data_Calculation);
  for (int i = 0; i <= kMaxUnits; ++i) lay("unit" + std::to_string(i), Data_Calculation_wait);
  ctx.mode = Mode_fill;
  ctx.units = 16;
  unitscan(fake.os, ctx);
  EXPECT_TRUE(fake.log.empty());
  EXPECT_EQ(ctx.units_local, kMaxUnits);
  EXPECT_EQ(ctx.calculation_unit, NO_UNIT);
  EXPECT_EQ(ctx.vorcnt_state, Vorcnt_error);  // the loop ends at once: no home, nothing done
  const auto lines = lines_of(fake.console.output);
  ASSERT_EQ(lines.size(), 18u);  // 16 found, unit16 ignored, no free folder
  EXPECT_EQ(lines[15], "[unit15] Dir find : 5");
  EXPECT_EQ(lines[17], "No free unit folder: all 16 are in use and the client folder holds work; free one and restart");
  EXPECT_FALSE(dir.exists("unit17"));
}

TEST_F(ScanTest, AnEmptyClientFolderGetsTheSelectedUnit) {
  lay("unit0", Data_Calculation_wait);
  lay("unit1", Data_Calculation_wait);
  dir.set_mtime("unit0/work_unit.vwu", 2000);
  dir.set_mtime("unit1/work_unit.vwu", 1000);
  unitscan(fake.os, ctx);
  EXPECT_EQ(ctx.calculation_unit, 1);
  EXPECT_EQ(ctx.vorcnt_state, Vorcon_CalcWait);
  EXPECT_EQ(fake.log, (EventLog{"run: copy " + P + "unit1\\*.vwu " + P.substr(0, P.size() - 1), "sleep 1",
                                "run: del " + P + "unit1\\*.vwu"}));
  EXPECT_EQ(dir.read("work_unit.vwu"), "work unit1");
}

TEST_F(ScanTest, NoUnitsAndNoWorkEndTheRun) {
  unitscan(fake.os, ctx);
  EXPECT_EQ(ctx.units_local, 0);
  EXPECT_EQ(ctx.vorcnt_state, Vorcnt_error);
  EXPECT_TRUE(fake.log.empty());
  EXPECT_EQ(lines_of(fake.console.output).size(), 5u);  // both searches and the end; no pop
}

TEST_F(ScanTest, ModeErrorSelectsAndPopsNothing) {
  lay("unit0", Data_Calculation_wait);
  ctx.mode = Mode_error;
  unitscan(fake.os, ctx);
  EXPECT_EQ(ctx.calculation_unit, NO_UNIT);
  EXPECT_EQ(ctx.vorcnt_state, Vorcnt_error);
  EXPECT_TRUE(fake.log.empty());
  EXPECT_EQ(lines_of(fake.console.output).size(), 2u);  // the find line, and why nothing starts
  EXPECT_TRUE(dir.exists("unit0/work_unit.vwu"));
}

TEST_F(ScanTest, UpdateDataStateReadsTheClientFolder) {
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
  std::optional<InFolder> here;
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
