#include <string>

#include "engine/engine.h"
#include "engine/engine_fixture.h"

namespace vorcnt::testing {
namespace {

// The client actions only run commands; no files are needed.
class ActionTest : public EngineTest {
 protected:
  ActionTest() {
    set_path("C:\\client\\");
    ctx.calculation_unit = 2;
    ctx.units_local = 3;
  }
};

TEST_F(ActionTest, CalcStartStartsTheClientAndClosesIt) {
  ctx.vorcnt_state = Vorcon_CalcWait;
  calc_start(fake.os, ctx);
  EXPECT_EQ(fake.log, (EventLog{"run: C:\\client\\Vorelith.exe", "sleep 5", "run: vorclose -close -echo off"}));
  EXPECT_EQ(ctx.vorcnt_state, Vorcon_Calc);
}

TEST_F(ActionTest, CalcCheckWaitsForTheResult) {
  for (std::int32_t state : {Data_nothing, Data_Calculation, Data_Sending, Data_Receiving, Data_Calculation_wait}) {
    ctx.data_state = state;
    ctx.vorcnt_state = Vorcon_Calc;
    EXPECT_EQ(calc_check(fake.os, ctx), 0) << state;
    EXPECT_EQ(ctx.vorcnt_state, Vorcon_Calc);
  }
  EXPECT_EQ(ctx.unit_state[2], Data_nothing);
  EXPECT_TRUE(fake.log.empty());
}

struct Finish {
  const char* execfinish;
  EventLog log;
  const char* output;
};

class CalcFinishTest : public ActionTest, public ::testing::WithParamInterface<Finish> {};

TEST_P(CalcFinishTest, StopsTheClientMarksTheUnitAndRunsTheFinishCommand) {
  std::snprintf(ctx.execfinish, sizeof ctx.execfinish, "%s", GetParam().execfinish);
  ctx.data_state = Data_Calculation_completion;
  ctx.vorcnt_state = Vorcon_Calc;
  EXPECT_EQ(calc_check(fake.os, ctx), 1);
  EXPECT_EQ(ctx.vorcnt_state, Vorcon_CalcCompletion);
  EXPECT_EQ(ctx.unit_state[2], Data_Calculation_completion);
  EXPECT_EQ(fake.log, GetParam().log);
  EXPECT_EQ(fake.console.output, GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CalcFinishTest,
    ::testing::Values(Finish{"", {"run: vorclose -exit -echo off", "sleep 30"}, ""},
                      // From the settings file the command keeps its line end.
                      Finish{"notify.bat done\n",
                             {"run: vorclose -exit -echo off", "run: notify.bat done\n", "sleep 30"},
                             "strlen:notify.bat done\n\nstrlen:16\n"}));

TEST_F(ActionTest, ConnectStartOrdersAConnectionOnlyInAutomaticFill) {
  for (int fill : {0, 1, 2}) {
    FakeOs os;
    ctx.fill = fill;
    ctx.vorcnt_state = Vorcon_ConnectionWait;
    connect_start(os.os, ctx);
    EventLog expected{"run: C:\\client\\Vorelith.exe", "sleep 20"};
    if (fill == 2) expected.push_back("run: vorclose.exe -connect");
    EXPECT_EQ(os.log, expected) << fill;
    EXPECT_EQ(ctx.vorcnt_state, Vorcon_Connection);
    EXPECT_EQ(os.console.output, "[Unit2] Data Conection Start.\n");
  }
}

TEST_F(ActionTest, ConnectCheckEndsOnceNewWorkIsThere) {
  for (std::int32_t state = Data_nothing; state <= Data_Calculation_wait; ++state) {
    FakeOs os;
    ctx.data_state = state;
    ctx.vorcnt_state = Vorcon_Connection;
    ctx.unit_state[2] = Data_Calculation_completion;
    connect_check(os.os, ctx);
    const bool done = state == Data_Calculation || state == Data_Calculation_wait;
    EXPECT_EQ(ctx.vorcnt_state, done ? Vorcon_ConnectCompletion : Vorcon_Connection) << state;
    EXPECT_EQ(ctx.unit_state[2], done ? Data_Calculation_wait : Data_Calculation_completion) << state;
    EXPECT_EQ(os.log, done ? EventLog{"run: vorclose.exe -exit -echo off"} : EventLog{}) << state;
    EXPECT_EQ(os.console.output, done ? "[Unit2] Data Conection Compleate.\n" : "") << state;
  }
}

TEST_F(ActionTest, NoUnitIsNeverWrittenToTheTable) {
  ctx.calculation_unit = NO_UNIT;
  ctx.data_state = Data_Calculation_completion;
  EXPECT_EQ(calc_check(fake.os, ctx), 1);
  ctx.data_state = Data_Calculation_wait;
  connect_check(fake.os, ctx);
  for (std::int32_t state : ctx.unit_state) EXPECT_EQ(state, Data_nothing);
  EXPECT_EQ(ctx.vorcnt_state, Vorcon_ConnectCompletion);
  EXPECT_EQ(lines_of(fake.console.output).size(), 3u);  // two refusals and the completion line
}

}  // namespace
}  // namespace vorcnt::testing
