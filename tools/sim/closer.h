// vorclose's work: give the running client one order through the run folder.
#pragma once

#include <string>
#include <vector>

#include "world.h"

namespace vorcnt::sim {

struct CloserRequest {
  std::string order;  // "exit", "close" or "connect"; empty when none given
  bool echo = true;
  std::string error;  // set when the arguments are not understood
};

// Reads "-exit", "-close", "-connect" and "-echo off|on", in any order and
// case, with '-' or '/'. The last order given wins.
CloserRequest parse_closer_args(const std::vector<std::string>& args);

struct CloserTimeouts {
  long long take_ms = 10000;  // for the client to pick the order up
  long long exit_ms = 30000;  // for the client to end after "exit"
};

// Records the order in orders.log (as `logged`), hands it to the client and
// waits: until the client has taken it, and for "exit" until it has ended.
// With no client running it returns at once, removing a registration left by
// a client that died. `report` gets one short line of what happened. Returns
// the exit status: 0, or 1 when the client did not respond in time.
int deliver_order(const RunFolder& run, const CloserRequest& request, const std::string& logged,
                  std::string& report, CloserTimeouts timeouts = {});

}  // namespace vorcnt::sim
