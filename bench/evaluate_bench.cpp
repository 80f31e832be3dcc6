// One pass's look at the client folder, against the bare system calls that
// look has to make: the four existence probes of a ".vwu" folder whose work
// unit is present, and an open, read-to-the-end and close of the state file
// (the user-info file decides nothing, so a pass leaves it unread). Beside
// them, the stall watch's look on the same folder.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "bench_support.h"
#include "clientdata/report.h"
#include "engine/engine.h"
#include "engine/stall_watch.h"
#include "ground/context.h"
#include "platform/null_os.h"

namespace vorcnt::bench {
namespace {

// A client folder mid-computation, laid out once per run of a benchmark.
struct ComputingClientFolder {
  ScratchFolder scratch;
  std::string path;

  ComputingClientFolder() : path(scratch.path() + "client/") {
    for (const ClientFile& f : computing_unit_files(350 * 1024)) write_file(path + f.name, f.contents);
  }
};

void BM_evaluate(benchmark::State& state) {
  ComputingClientFolder folder;
  ControllerContext ctx;
  std::strcpy(ctx.path, folder.path.c_str());
  for (auto _ : state) {
    update_data_state(ctx);
    benchmark::DoNotOptimize(ctx.data_state);
    benchmark::DoNotOptimize(ctx.progress);
  }
  // A folder that does not read as a running computation would mean the look
  // stopped early, and the figure would flatter it.
  if (ctx.data_state != Data_Calculation)
    state.SkipWithError(("client folder read as state " + std::to_string(ctx.data_state)).c_str());
}
BENCHMARK(BM_evaluate)->Unit(benchmark::kMicrosecond);

// The stall watch's look that follows it on each pass while a unit
// computes: the client's files dated and sized, with STALL set but never
// reached, so it is the cost paid on every pass.
void BM_stall_watch(benchmark::State& state) {
  ComputingClientFolder folder;
  ControllerContext ctx;
  std::strcpy(ctx.path, folder.path.c_str());
  ctx.vorcnt_state = Vorcon_Calc;
  ctx.stall = 100000;
  NullOs null;
  update_data_state(ctx);
  for (auto _ : state) {
    watch_client(null.os, ctx);
    benchmark::DoNotOptimize(ctx.stall_watch.files.data());
  }
  if (ctx.stall_watch.files.empty()) state.SkipWithError("the watch kept nothing");
}
BENCHMARK(BM_stall_watch)->Unit(benchmark::kMicrosecond);

void read_whole(const char* name) {
  int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  // The reader's own buffer size; the files fit in one read, and the second
  // read sees the end, as any reader must.
  char buf[4096];
  while (::read(fd, buf, sizeof buf) > 0) benchmark::DoNotOptimize(buf);
  ::close(fd);
}

void BM_evaluate_floor(benchmark::State& state) {
  ComputingClientFolder folder;
  const std::string probes[] = {
      folder.path + "version.vwu",
      folder.path + "work_unit.vwu",  // present, so the temporary file is not probed
      folder.path + "result.vwu",
      folder.path + "outfile.vwu",
  };
  const std::string state_name = folder.path + "state.vwu";
  for (auto _ : state) {
    for (const std::string& p : probes) benchmark::DoNotOptimize(::access(p.c_str(), F_OK));
    read_whole(state_name.c_str());
  }
}
BENCHMARK(BM_evaluate_floor)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vorcnt::bench
