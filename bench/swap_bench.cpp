// Moving one unit out of the client folder and back: a push into unit0 and a
// pop from it, with the fixed pauses taken out. Four ways of doing the same
// work, side by side:
//   BM_swap           unitpush + unitpop through the POSIX command layer
//   BM_swap_commands  the four command texts they form, run by the layer alone
//   BM_swap_floor     the bare system calls: copy each file (keeping its
//                     modification time, as the copy must), compare it with
//                     its source, and unlink the source
//   BM_swap_shell     the portable way: each step a /bin/sh -c line running
//                     cp -p and rm -f
// None of these syncs, so they compare like with like. The cost of durability
// is measured apart, on a disk file system ($VORCNT_BENCH_DISK, default
// /var/tmp), where a sync has a device to wait for:
//   BM_swap_disk          unitpush + unitpop without syncs
//   BM_swap_disk_durable  the same as the controller runs them: each move's
//                         record written and synced first, every copy
//                         checked against it and flushed, with its folder,
//                         before its source is deleted
//   BM_swap_disk_unrecorded  the durable move without a record: the copies
//                         compared byte for byte with their sources, flushed,
//                         then the sources deleted (what a move did before
//                         it kept a record)
// And the digest that records and checks use, against reading the same file:
//   BM_digest_file / BM_read_file
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "engine/digest.h"
#include "engine/engine.h"
#include "platform/files.h"
#include "platform/posix_commands.h"

namespace vorcnt::bench {
namespace {

void check_round_trip(benchmark::State& state, const SwapFolder& folder) {
  if (!folder.round_trip_intact()) state.SkipWithError("the files did not come back whole");
}

void swap_rounds(benchmark::State& state, const char* base, bool durable) {
  SwapFolder folder(base);
  NullConsole console;
  NullClock clock;
  CommandLayerShell shell;
  Os os{shell, clock, console};
  set_durable_writes(durable);
  for (auto _ : state) {
    if (!unitpush(os, 0, folder.path.c_str()) || !unitpop(os, 0, folder.path.c_str())) {
      state.SkipWithError("unitpush or unitpop reported a failure");
      break;
    }
  }
  set_durable_writes(true);
  check_round_trip(state, folder);
}

void BM_swap(benchmark::State& state) { swap_rounds(state, nullptr, false); }
BENCHMARK(BM_swap)->Unit(benchmark::kMicrosecond);

const char* disk_folder() {
  const char* dir = std::getenv("VORCNT_BENCH_DISK");
  return dir != nullptr && *dir != '\0' ? dir : "/var/tmp";
}

void BM_swap_disk(benchmark::State& state) { swap_rounds(state, disk_folder(), false); }
BENCHMARK(BM_swap_disk)->Unit(benchmark::kMicrosecond);

void BM_swap_disk_durable(benchmark::State& state) { swap_rounds(state, disk_folder(), true); }
BENCHMARK(BM_swap_disk_durable)->Unit(benchmark::kMicrosecond);

// One move without a record, step by step as the controller made it before.
bool unrecorded_move(Os& os, const std::string& from, const std::string& to, const std::string& copy,
                     const std::string& del, const std::vector<std::string>& names) {
  if (run_command(os, copy) != 0) return false;
  for (const std::string& n : names)
    if (!same_contents(path_in(from, n), path_in(to, n))) return false;
  if (!sync_files(to, names).ok()) return false;
  run_command(os, del);
  return sync_one_folder(from).ok();
}

void BM_swap_disk_unrecorded(benchmark::State& state) {
  SwapFolder folder(disk_folder());
  NullConsole console;
  NullClock clock;
  CommandLayerShell shell;
  Os os{shell, clock, console};
  std::vector<std::string> names;
  for (const ClientFile& f : folder.files) names.push_back(f.name);
  const std::string& p = folder.path;
  for (auto _ : state) {
    if (!unrecorded_move(os, p, p + "unit0", "copy " + p + "*.vwu " + p + "unit0", "del " + p + "*.vwu", names) ||
        !unrecorded_move(os, p + "unit0\\", p, "copy " + p + "unit0\\*.vwu " + p.substr(0, p.size() - 1),
                         "del " + p + "unit0\\*.vwu", names)) {
      state.SkipWithError("the move without a record failed");
      return;
    }
  }
  check_round_trip(state, folder);
}
BENCHMARK(BM_swap_disk_unrecorded)->Unit(benchmark::kMicrosecond);

// A large work unit, read from the page cache: the digest's own cost.
constexpr std::size_t kDigestBytes = std::size_t{64} << 20;

struct BigFile {
  ScratchFolder scratch;
  std::string path = scratch.path() + "big.vwu";
  BigFile() {
    std::string data(kDigestBytes, '\0');
    for (std::size_t i = 0; i < data.size(); i += 61) data[i] = static_cast<char>(i * 2654435761u >> 24);
    write_file(path, data);
  }
};

void BM_digest_file(benchmark::State& state) {
  BigFile file;
  for (auto _ : state) {
    Digest d;
    std::uintmax_t size = 0;
    int error = 0;
    if (!digest_file(file.path, &d, &size, &error)) state.SkipWithError("the digest failed");
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kDigestBytes));
}
BENCHMARK(BM_digest_file)->Unit(benchmark::kMicrosecond);

void BM_read_file(benchmark::State& state) {
  BigFile file;
  static char buf[1 << 17];
  for (auto _ : state) {
    const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) benchmark::DoNotOptimize(buf[0]);
    ::close(fd);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kDigestBytes));
}
BENCHMARK(BM_read_file)->Unit(benchmark::kMicrosecond);

void BM_swap_commands(benchmark::State& state) {
  SwapFolder folder;
  set_durable_writes(false);
  const std::string& p = folder.path;
  // The texts unitpush and unitpop form for unit 0; the pop's destination is
  // the client folder without its trailing separator.
  const std::string lines[] = {
      "copy " + p + "*.vwu " + p + "unit0",
      "del " + p + "*.vwu",
      "copy " + p + "unit0\\*.vwu " + p.substr(0, p.size() - 1),
      "del " + p + "unit0\\*.vwu",
  };
  for (auto _ : state) {
    for (const std::string& line : lines) {
      if (run_posix_command(line) != 0) {
        state.SkipWithError(("failed: " + line).c_str());
        return;
      }
    }
  }
  check_round_trip(state, folder);
}
BENCHMARK(BM_swap_commands)->Unit(benchmark::kMicrosecond);

void BM_swap_floor(benchmark::State& state) {
  SwapFolder folder;
  std::vector<std::string> names;
  for (const ClientFile& f : folder.files) names.push_back(f.name);
  const std::string client = folder.path;
  const std::string unit = folder.path + "unit0/";
  for (auto _ : state) {
    if (!move_files(names, client, unit) || !move_files(names, unit, client)) {
      state.SkipWithError("bare copy failed");
      return;
    }
  }
  check_round_trip(state, folder);
}
BENCHMARK(BM_swap_floor)->Unit(benchmark::kMicrosecond);

void BM_swap_shell(benchmark::State& state) {
  SwapFolder folder;
  const std::string& p = folder.path;
  const std::string lines[] = {
      "cp -p " + p + "*.vwu " + p + "unit0/",
      "rm -f " + p + "*.vwu",
      "cp -p " + p + "unit0/*.vwu " + p,
      "rm -f " + p + "unit0/*.vwu",
  };
  for (auto _ : state) {
    for (const std::string& line : lines) {
      if (std::system(line.c_str()) != 0) {
        state.SkipWithError(("failed: " + line).c_str());
        return;
      }
    }
  }
  check_round_trip(state, folder);
}
BENCHMARK(BM_swap_shell)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vorcnt::bench
