// vorclose: gives the running simulated client an order.
//
//   vorclose -exit [-echo off]     the client ends; returns once it has
//   vorclose -close [-echo off]    the client will not connect by itself
//   vorclose -connect [-echo off]  the client connects now
//
// The client is found through VORSIM_RUNDIR (default <temp>/vorelith-sim).
// Without "-echo off" it prints one line of what it did.
#include <cstdio>
#include <string>
#include <vector>

#include "closer.h"

int main(int argc, char** argv) {
  using namespace vorcnt::sim;
  std::vector<std::string> args(argv + 1, argv + argc);
  CloserRequest request = parse_closer_args(args);
  if (!request.error.empty()) {
    std::fprintf(stderr, "vorclose: %s\nusage: vorclose -exit|-close|-connect [-echo off]\n", request.error.c_str());
    return 2;
  }
  std::string logged;
  for (const std::string& arg : args) logged += (logged.empty() ? "" : " ") + arg;
  std::string report;
  int status = deliver_order(RunFolder::from_env(), request, logged, report);
  if (request.echo || status != 0) std::printf("%s\n", report.c_str());
  return status;
}
