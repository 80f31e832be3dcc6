// The simulated project server: a folder of work units to hand out and the
// results sent back, and the checks run on them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "world.h"

namespace vorcnt::sim {

// Adds `count` work units of about `bytes` each to the queue, numbered after
// the highest id already queued or issued. False, with `error` set, when a
// folder or file cannot be written.
// `binary` units hold raw bytes after their id line, zeros and runs of them
// included, as real work-unit data does.
bool init_server(const ServerFolder& server, int count, std::size_t bytes, std::string& error, bool binary = false);

// VORSIM_REFILL=N:SECONDS, a server that runs dry and fills again: the first
// client to find the queue empty leaves the time in the server folder
// ("dry.at"), and the first to find it empty SECONDS (scaled) later adds N
// work units, once. True when it added them.
bool refill_when_dry(const ServerFolder& server, double scale);

struct VerifyCounts {
  int queue = 0;       // work units not handed out yet
  int issued = 0;      // work units handed out
  int results = 0;     // result files received
  int verified = 0;    // work units with at least one correct result
  int mismatched = 0;  // result files with a wrong digest or an unknown id
  int duplicates = 0;  // result files beyond the first for their id
};

// Recomputes each issued work unit's digest and checks every result against it.
VerifyCounts verify_server(const ServerFolder& server);

// Ids of results the client computed (its log's "result" lines) that were
// neither uploaded nor are still held in a result.vwu in `client_folder` or
// one of its unit folders.
std::vector<std::string> lost_results(const ServerFolder& server, const std::string& client_folder,
                                      const std::string& client_log);

}  // namespace vorcnt::sim
