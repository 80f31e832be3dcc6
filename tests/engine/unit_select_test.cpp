#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/engine_fixture.h"

namespace vorcnt::testing {
namespace {

const std::string kCalcHead = "[unitselect State_Data_Calculation]\n";
const std::string kSendHead = "[unitselect State_Data_Calculation_completion]\n";

struct Choice {
  const char* name;
  std::int32_t mode;
  std::vector<std::int32_t> states;
  std::map<int, long long> work_units;  // unit -> mtime of its work_unit.vwu
  int unit;                             // expected calculation_unit
  std::int32_t vorcnt_state;
  std::int32_t mode_after;
  std::string output;
  std::string execempty = {};  // the hook when nothing is left to compute
  int hook_status = 0;
  friend void PrintTo(const Choice& row, std::ostream* out) { *out << row.name; }
};

class SelectTest : public EngineTest, public ::testing::WithParamInterface<Choice> {};

TEST_P(SelectTest, ChoosesTheUnitAndTheMode) {
  const Choice& row = GetParam();
  given_units(row.mode, row.states);
  ctx.calculation_unit = NO_UNIT;
  ctx.vorcnt_state = Vorcon_CalcCompletion;
  for (const auto& [unit, mtime] : row.work_units) {
    const std::string name = "unit" + std::to_string(unit) + "/work_unit.vwu";
    dir.write(name, "w");
    dir.set_mtime(name, mtime);
  }
  std::snprintf(ctx.execempty, sizeof ctx.execempty, "%s", row.execempty.c_str());
  fake.shell.effect = [&row](const std::string&) { return row.hook_status; };
  unitselect(fake.os, ctx);
  EXPECT_EQ(ctx.calculation_unit, row.unit);
  EXPECT_EQ(ctx.vorcnt_state, row.vorcnt_state);
  EXPECT_EQ(ctx.mode, row.mode_after);
  EXPECT_EQ(fake.console.output, row.output);
  // Selection moves no files; the only command it may run is the hook.
  const bool hook_ran = row.output.find(kNothingToCompute) != std::string::npos && !row.execempty.empty();
  EXPECT_EQ(fake.log, hook_ran ? EventLog{"run: " + row.execempty} : EventLog{});
}

constexpr std::int32_t kWait = Data_Calculation_wait;

INSTANTIATE_TEST_SUITE_P(
    Rows, SelectTest,
    ::testing::Values(
        // A unit under calculation beats an older work unit elsewhere.
        Choice{"UnderCalculationFirst", Mode_calc, {kWait, Data_Calculation, Data_Calculation, kWait}, {{0, 1000}}, 1,
               Vorcon_CalcWait, Mode_calc,
               kCalcHead + "[Unit1]:State_Data_Calculation\n[Unit1]:" + kComputing + "\n"},
        Choice{"OldestWorkUnit", Mode_calc, {kWait, kWait, kWait}, {{0, 2000}, {2, 1000}}, 2, Vorcon_CalcWait,
               Mode_calc, kCalcHead + "[Unit2]:" + kWaitingToCompute + "\n"},
        Choice{"EqualTimesLowestNumber", Mode_calc, {Data_nothing, kWait, kWait, kWait},
               {{3, 1000}, {1, 1000}, {2, 2000}}, 1, Vorcon_CalcWait, Mode_calc,
               kCalcHead + "[Unit1]:" + kWaitingToCompute + "\n"},
        // The age search ignores the state: a finished unit still holding its work unit counts.
        Choice{"FinishedUnitWithWorkUnit", Mode_calc, {Data_Calculation_completion, kWait}, {{0, 1000}, {1, 2000}}, 0,
               Vorcon_CalcWait, Mode_calc, kCalcHead + "[Unit0]:" + kWaitingToCompute + "\n"},
        Choice{"SendingSkipsDataSending", Mode_fill, {kWait, Data_Sending, Data_Calculation_completion}, {}, 2,
               Vorcon_ConnectionWait, Mode_fill, kSendHead + "[Unit2]:Data Conection\n[Unit2]:" + kWaitingToSend + "\n"},
        Choice{"NothingToSendTurnsToComputing", Mode_fill, {kWait, kWait}, {{0, 2000}, {1, 1000}}, 1, Vorcon_CalcWait,
               Mode_calc, kSendHead + "FILL Completion\n" + kCalcHead + "[Unit1]:" + kWaitingToCompute + "\n"},
        Choice{"NothingToComputeTurnsToSending", Mode_calc, {Data_Sending, Data_nothing},
               {}, 1, Vorcon_ConnectionWait, Mode_fill,
               kCalcHead + kNothingToCompute + "\n" + kSendHead + "[Unit1]:Data Conection\n[Unit1]:" + kWaitingToSend +
                   "\n"},
        Choice{"WorkLeftRunsNoHook", Mode_calc, {kWait, kWait}, {{1, 1000}}, 1, Vorcon_CalcWait, Mode_calc,
               kCalcHead + "[Unit1]:" + kWaitingToCompute + "\n", "notify empty"},
        Choice{"NothingToComputeRunsTheHookOnce", Mode_calc, {Data_Sending, Data_nothing}, {}, 1,
               Vorcon_ConnectionWait, Mode_fill,
               kCalcHead + kNothingToCompute + "\n" + kSendHead + "[Unit1]:Data Conection\n[Unit1]:" + kWaitingToSend +
                   "\n",
               "notify empty"},
        Choice{"FailedHookSaysSoInOneLine", Mode_calc, {Data_Calculation_completion}, {}, 0, Vorcon_ConnectionWait,
               Mode_fill,
               kCalcHead + kNothingToCompute + "\nexecempty: 'notify empty' ended with status 3\n" + kSendHead +
                   "[Unit0]:Data Conection\n[Unit0]:" + kWaitingToSend + "\n",
               "notify empty", 3},
        Choice{"ModeErrorSelectsNothing", Mode_error, {Data_Calculation}, {}, NO_UNIT, Vorcon_CalcCompletion,
               Mode_error, ""}),
    [](const auto& row) { return std::string(row.param.name); });

struct Stuck {
  const char* name;
  std::int32_t mode;
  std::vector<std::int32_t> states;
  friend void PrintTo(const Stuck& row, std::ostream* out) { *out << row.name; }
};

class SelectEndsTest : public EngineTest, public ::testing::WithParamInterface<Stuck> {};

TEST_P(SelectEndsTest, StopsAfterEachSearchFailedOnce) {
  given_units(GetParam().mode, GetParam().states);
  ctx.calculation_unit = NO_UNIT;
  unitselect(fake.os, ctx);
  EXPECT_EQ(ctx.vorcnt_state, Vorcnt_error);
  EXPECT_EQ(ctx.calculation_unit, NO_UNIT);
  const std::string calc = kCalcHead + kNothingToCompute + "\n";
  const std::string send = kSendHead + "FILL Completion\n";
  const std::string both = GetParam().mode == Mode_calc ? calc + send : send + calc;
  ASSERT_EQ(fake.console.output.compare(0, both.size(), both), 0) << fake.console.output;
  EXPECT_EQ(lines_of(fake.console.output.substr(both.size())).size(), 1u);  // and one line to say it ends
}

INSTANTIATE_TEST_SUITE_P(
    NeitherSearchCanSucceed, SelectEndsTest,
    ::testing::Values(Stuck{"NoUnitsComputing", Mode_calc, {}}, Stuck{"NoUnitsSending", Mode_fill, {}},
                      Stuck{"AllSendingComputing", Mode_calc, {Data_Sending, Data_Sending}},
                      Stuck{"AllSendingSending", Mode_fill, {Data_Sending, Data_Sending}}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vorcnt::testing
