// Vorelith.exe, the simulated client.
//
// Started without arguments, it detaches at once (the start command returns
// while it runs) and works in its own executable's folder with the ".vwu"
// file set, creating version.vwu and user_info.vwu there when missing.
//
//   computing   work_unit.vwu present and no result.vwu: computes, resuming
//               from state.vwu's prog, rewriting state.vwu as it goes; when
//               done writes result.vwu (the work unit's id and digest), sets
//               prog=1 and removes work_unit.vwu.
//   connecting  with a result, or with no work unit at all, unless told
//               "-close" (a "-connect" order overrides that): uploads the
//               result to the server, removes result.vwu, state.vwu and
//               outfile.vwu, downloads the next work unit slowly into
//               wtemp.vwu and renames it to work_unit.vwu.
//
// Orders come from vorclose through the run folder (see world.h).
//
// Environment:
//   VORCNT_TIME_SCALE        multiplies every duration below (default 1)
//   VORSIM_COMPUTE_SECONDS   computing one unit (default 600)
//   VORSIM_UPLOAD_SECONDS    sending a result (default 10)
//   VORSIM_DOWNLOAD_SECONDS  fetching a unit (default 20)
//   VORSIM_RETRY_SECONDS     pause after a failed connection (default 60)
//   VORSIM_RUNDIR            run folder (default <temp>/vorelith-sim)
//   VORSIM_SERVER            project server folder (none: cannot connect)
//   VORSIM_REFILL            N:SECONDS: a server found empty gets N new work
//                            units SECONDS after it was first found so, once
//   VORSIM_LIFETIME          ends the client after this many real seconds,
//                            a safety net for test runs (default: no limit)
//   VORSIM_RESULT_BYTES      the result also carries this many raw bytes,
//                            zero runs included (default 0)
//   VORSIM_FAULT             crash         ends without cleanup a quarter of the way
//                                          through a unit
//                            never         stops progressing at a quarter, never finishes
//                            slowdownload  downloads ten times slower
//                            tornstate     every third state.vwu write is left
//                                          cut off inside prog for 0.1 s
//                            connectcrash  ends without cleanup halfway through a
//                                          download, once per run folder
#include "client.h"
#include "platform/time_scale.h"
#include "sim_files.h"
#include "sim_os.h"

namespace {

// How often the client looks for orders and advances its work, in real time.
constexpr long long kPollMs = 20;
// How long the starting process waits for its detached copy to register.
constexpr long long kRegisterWaitMs = 5000;

}  // namespace

int main(int argc, char** argv) {
  using namespace vorcnt::sim;
  RunFolder run = RunFolder::from_env();
  Detached detached = detach_self(argc, argv);
  if (detached.role == DetachRole::failed) return 1;
  if (detached.role == DetachRole::parent) {
    // Return only once the client can take orders, so a closer run right
    // after the start always finds it.
    long long deadline = monotonic_ms() + kRegisterWaitMs;
    while (monotonic_ms() < deadline && process_alive(detached.child_pid)) {
      auto reg = read_registration(run);
      if (reg && reg->pid == detached.child_pid) break;
      sleep_ms(2);
    }
    return 0;
  }

  ClientSetup setup;
  setup.folder = own_folder();
  setup.run = run;
  setup.server = ServerFolder::from_env();
  setup.timings = Timings::from_env();
  setup.scale = vorcnt::time_scale();
  setup.fault = fault_from_env();
  if (setup.folder.empty()) return 1;

  double lifetime = env_seconds("VORSIM_LIFETIME", 0.0);
  long long end_ms = lifetime > 0.0 ? monotonic_ms() + static_cast<long long>(lifetime * 1000.0) : -1;

  SimClient client(setup);
  if (!client.start(monotonic_ms())) return 1;
  while (client.step(monotonic_ms()) && (end_ms < 0 || monotonic_ms() < end_ms)) sleep_ms(kPollMs);
  client.finish();
  return 0;
}
