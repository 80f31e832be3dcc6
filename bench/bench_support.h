// What the benchmarks share: scratch client folders laid out the way the
// client leaves them, and an Os whose pauses and console cost nothing, so that
// a timed loop measures the file work alone.
#pragma once

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/null_os.h"
#include "platform/os.h"
#include "support/scratch.h"

namespace vorcnt::bench {

// Scratch folders are the tests' own (under $TMPDIR, or a given base).
using ScratchFolder = testing::ScratchDir;

// Writes `contents` to `path`, creating its parent folders.
void write_file(const std::string& path, const std::string& contents);
void make_folder(const std::string& path);

// The client's files as they stand mid-computation.
std::string state_file_text();      // 40 lines: prog, cpu, ncfft, bs_*, bg_*, bg_pot
std::string user_info_text();       // 17 lines, one per key the reader knows
std::string version_text();
std::string work_unit_data(std::size_t bytes);

// One work unit's file set, name and contents, as the client folder holds it
// while the client computes: version, work unit, user info, state, output.
struct ClientFile {
  std::string name;
  std::string contents;
};
std::vector<ClientFile> computing_unit_files(std::size_t work_unit_bytes);

// Hands every line to the POSIX command layer, as the real shell does.
class CommandLayerShell final : public Shell {
 public:
  int run(const std::string& command_line) override;
  bool copies_reach_disk() const override { return durable_writes(); }
};

}  // namespace vorcnt::bench
