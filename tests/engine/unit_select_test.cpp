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
const std::string kNoWork = kCalcHead + kNothingToCompute + "\n";
const std::string kNoneToSend = kSendHead + "FILL Completion\n";
const std::string kStops = "unitselect: no unit to compute and none to send; stopping\n";

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
  std::map<int, long long> waits_until = {};  // with NOWORK: units waiting for work, to when on the pause clock
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
  for (const auto& [unit, until] : row.waits_until) ctx.work_wait[unit] = {1, 1, 1, 3600, 0, static_cast<double>(until)};
  ctx.nowork = row.waits_until.empty() ? 0 : 60;
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

std::string waits(const char* unit) { return kCalcHead + "[Unit" + unit + "]:" + kWaitingToCompute + "\n"; }
std::string sends(const char* unit) {
  return kSendHead + "[Unit" + unit + "]:Data Conection\n[Unit" + unit + "]:" + kWaitingToSend + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SelectTest,
    ::testing::Values(
        // A unit under calculation beats an older work unit elsewhere.
        Choice{"UnderCalculationFirst", Mode_calc, {kWait, Data_Calculation, Data_Calculation, kWait}, {{0, 1000}}, 1,
               Vorcon_CalcWait, Mode_calc,
               kCalcHead + "[Unit1]:State_Data_Calculation\n[Unit1]:" + kComputing + "\n"},
        Choice{"OldestWorkUnit", Mode_calc, {kWait, kWait, kWait}, {{0, 2000}, {2, 1000}}, 2, Vorcon_CalcWait,
               Mode_calc, waits("2")},
        Choice{"EqualTimesLowestNumber", Mode_calc, {Data_nothing, kWait, kWait, kWait},
               {{3, 1000}, {1, 1000}, {2, 2000}}, 1, Vorcon_CalcWait, Mode_calc, waits("1")},
        // The age search ignores the state: a finished unit still holding its work unit counts.
        Choice{"FinishedUnitWithWorkUnit", Mode_calc, {Data_Calculation_completion, kWait}, {{0, 1000}, {1, 2000}}, 0,
               Vorcon_CalcWait, Mode_calc, waits("0")},
        Choice{"SendingSkipsDataSending", Mode_fill, {kWait, Data_Sending, Data_Calculation_completion}, {}, 2,
               Vorcon_ConnectionWait, Mode_fill, sends("2")},
        Choice{"NothingToSendTurnsToComputing", Mode_fill, {kWait, kWait}, {{0, 2000}, {1, 1000}}, 1, Vorcon_CalcWait,
               Mode_calc, kNoneToSend + waits("1")},
        Choice{"NothingToComputeTurnsToSending", Mode_calc, {Data_Sending, Data_nothing}, {}, 1,
               Vorcon_ConnectionWait, Mode_fill, kNoWork + sends("1")},
        Choice{"WorkLeftRunsNoHook", Mode_calc, {kWait, kWait}, {{1, 1000}}, 1, Vorcon_CalcWait, Mode_calc, waits("1"),
               "notify empty"},
        Choice{"NothingToComputeRunsTheHookOnce", Mode_calc, {Data_Sending, Data_nothing}, {}, 1,
               Vorcon_ConnectionWait, Mode_fill, kNoWork + sends("1"), "notify empty"},
        Choice{"FailedHookSaysSoInOneLine", Mode_calc, {Data_Calculation_completion}, {}, 0, Vorcon_ConnectionWait,
               Mode_fill, kNoWork + "execempty: 'notify empty' ended with status 3\n" + sends("0"), "notify empty", 3},
        Choice{"ModeErrorSelectsNothing", Mode_error, {Data_Calculation}, {}, NO_UNIT, Vorcon_CalcCompletion,
               Mode_error, ""},
        // Units waiting for work are passed over while they have nothing to
        // send; when nothing else is left, the first retry is waited for.
        Choice{"WaitingForWorkPassedOver", Mode_fill, {Data_nothing, Data_Receiving}, {}, 1, Vorcon_ConnectionWait,
               Mode_fill, sends("1"), "", 0, {{0, 100}}},
        Choice{"WaitingForWorkWithAResultSent", Mode_fill, {Data_Calculation_completion}, {}, 0, Vorcon_ConnectionWait,
               Mode_fill, sends("0"), "", 0, {{0, 100}}},
        Choice{"AllWaitingForWorkWaitForTheFirst", Mode_fill, {Data_nothing, Data_Receiving, Data_Sending}, {}, 1,
               Vorcon_ConnectionWait, Mode_fill, kNoneToSend + kNoWork, "", 0, {{0, 200}, {1, 100}}},
        // Neither search can succeed: each runs once, then the run ends.
        Choice{"NoUnitsComputing", Mode_calc, {}, {}, NO_UNIT, Vorcnt_error, Mode_calc, kNoWork + kNoneToSend + kStops},
        Choice{"NoUnitsSending", Mode_fill, {}, {}, NO_UNIT, Vorcnt_error, Mode_fill, kNoneToSend + kNoWork + kStops},
        Choice{"AllSendingComputing", Mode_calc, {Data_Sending, Data_Sending}, {}, NO_UNIT, Vorcnt_error, Mode_calc,
               kNoWork + kNoneToSend + kStops},
        Choice{"AllSendingSending", Mode_fill, {Data_Sending, Data_Sending}, {}, NO_UNIT, Vorcnt_error, Mode_fill,
               kNoneToSend + kNoWork + kStops}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vorcnt::testing
