// What the benchmarks share: scratch client folders laid out the way the
// client leaves them, and an Os whose pauses and console cost nothing, so that
// a timed loop measures the file work alone.
#pragma once

#include <cstddef>
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

// A client folder holding one computed unit's files and an empty unit0: what
// a push and a pop move out and back.
struct SwapFolder {
  static constexpr std::size_t kWorkUnitBytes = 350 * 1024;
  ScratchFolder scratch;
  std::string path;  // the client folder, ending in '/'
  std::vector<ClientFile> files = computing_unit_files(kWorkUnitBytes);

  explicit SwapFolder(const char* base = nullptr);
  // True when every file is back in the client folder, whole, and unit0 is
  // empty again: each round trip must leave the folders as it found them.
  bool round_trip_intact() const;
};

// The bare floor of one move: copies every file from one folder to the other
// keeping its modification time, checks each copy's bytes, then unlinks the
// sources; the same phases as a checked copy command and a delete command.
bool move_files(const std::vector<std::string>& names, const std::string& from, const std::string& to);

}  // namespace vorcnt::bench
