// Makes a number of round trips of one unit: a push into unit0 and a pop from
// it, the controller's way (unitpush/unitpop through the POSIX command layer,
// unsynced, as BM_swap times them) or the bare floor's (copy, compare,
// unlink). bench/run counts its system calls with strace -c at two numbers of
// rounds: the set-up and the process start are the same in both runs, so the
// difference is the rounds' own.
//   vorcnt_syscall_count swap|floor ROUNDS    (scratch folders under $TMPDIR)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "bench_support.h"
#include "engine/engine.h"

namespace vorcnt::bench {
namespace {

int usage() {
  std::fputs("usage: vorcnt_syscall_count swap|floor ROUNDS\n", stderr);
  return 2;
}

int run(const std::string& mode, long rounds) {
  SwapFolder folder;
  NullConsole console;
  NullClock clock;
  CommandLayerShell shell;
  Os os{shell, clock, console};
  set_durable_writes(false);
  std::vector<std::string> names;
  for (const ClientFile& f : folder.files) names.push_back(f.name);
  const std::string unit = folder.path + "unit0/";
  for (long i = 0; i < rounds; ++i) {
    const bool ok = mode == "swap" ? unitpush(os, 0, folder.path.c_str()) && unitpop(os, 0, folder.path.c_str())
                                   : move_files(names, folder.path, unit) && move_files(names, unit, folder.path);
    if (!ok) {
      std::fprintf(stderr, "vorcnt_syscall_count: round %ld of %s failed\n", i + 1, mode.c_str());
      return 1;
    }
  }
  if (!folder.round_trip_intact()) {
    std::fputs("vorcnt_syscall_count: the files did not come back whole\n", stderr);
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace vorcnt::bench

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "swap") != 0 && std::strcmp(argv[1], "floor") != 0)) {
    return vorcnt::bench::usage();
  }
  char* end = nullptr;
  const long rounds = std::strtol(argv[2], &end, 10);
  if (end == argv[2] || *end != '\0' || rounds < 0 || rounds > 1000000) return vorcnt::bench::usage();
  try {
    return vorcnt::bench::run(argv[1], rounds);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vorcnt_syscall_count: %s\n", e.what());
    return 1;
  }
}
