// The start-up scan over a full buffer of N unit folders, each holding a
// freshly fetched work unit, with an empty client folder: every folder is
// classified, the oldest work unit is chosen and popped. Commands and pauses
// cost nothing here, so the figure is the scan's own file work, which should
// grow in step with N.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "bench_support.h"
#include "clientdata/report.h"
#include "engine/engine.h"
#include "ground/context.h"

namespace vorcnt::bench {
namespace {

void BM_unitscan(benchmark::State& state) {
  const int units = static_cast<int>(state.range(0));
  ScratchFolder scratch;
  const std::string client = scratch.path() + "client/";
  for (int n = 0; n < units; ++n) {
    const std::string unit = client + "unit" + std::to_string(n) + "/";
    write_file(unit + "version.vwu", version_text());
    write_file(unit + "work_unit.vwu", work_unit_data(4096));
    write_file(unit + "user_info.vwu", user_info_text());
  }
  // The pop that the scan ends with finds the output file already there, as
  // it would after the first round, so every round does the same work. Under
  // the ".txt" set that an empty client folder reads as, it is not a client
  // file and the folder still reads as empty.
  write_file(client + "outfile.vwu", "");

  NullOs null;
  Os& os = null.os;
  ControllerContext ctx;
  std::strcpy(ctx.path, client.c_str());
  for (auto _ : state) {
    ctx.mode = Mode_calc;
    ctx.vorcnt_state = Vorcon_CalcWait;
    ctx.calculation_unit = 0;
    ctx.units_local = 0;
    unitscan(os, ctx);
    benchmark::DoNotOptimize(ctx.calculation_unit);
  }
  if (ctx.units_local != units || ctx.unit_state[0] != Data_Calculation_wait)
    state.SkipWithError(("scan found " + std::to_string(ctx.units_local) + " units").c_str());
}
BENCHMARK(BM_unitscan)->Arg(1)->Arg(16)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vorcnt::bench
