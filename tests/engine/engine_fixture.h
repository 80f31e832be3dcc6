// The engine's tests run against a scratch client folder, with the commands
// carried out there by a CommandWorld and every command and pause recorded in
// one event log.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "clientdata/report.h"
#include "engine/command_world.h"
#include "engine/unit_folders.h"
#include "ground/context.h"
#include "platform/process_guards.h"
#include "support/fakes.h"
#include "support/scratch.h"

namespace vorcnt::testing {

// CP932 texts the engine prints.
inline const std::string kComputing = "\x8c\x76\x8e\x5a\x92\x86";
inline const std::string kWaitingToCompute = "\x8c\x76\x8e\x5a\x91\xd2\x8b\x40\x92\x86";
inline const std::string kNothingToCompute =
    "\x8c\x76\x8e\x5a\x89\xc2\x94\x5c\x83\x86\x83\x6a\x83\x62\x83\x67\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
inline const std::string kWaitingToSend = "\x91\x97\x90\x4d\x91\xd2\x8b\x40\x92\x86";

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

using Files = std::map<std::string, std::string>;  // name -> contents, in name order

// The "*.vwu" names of a folder the test made; a folder that cannot be read
// fails the test.
inline std::vector<std::string> vwu_names(const std::string& folder) {
  std::vector<std::string> names;
  const Status s = vwu_files(folder, &names);
  EXPECT_TRUE(s.ok()) << folder << ": " << s.reason();
  return names;
}

// Not a ::testing::Test, so that a test can hold many of them.
struct EngineWorld {
  EngineWorld() {
    fake.shell.effect = [this](const std::string& line) { return world(line); };
    set_path(dir.path());
  }
  EngineWorld(const EngineWorld&) = delete;  // the effect points back at this one

  void set_path(const std::string& path) { std::snprintf(ctx.path, sizeof ctx.path, "%s", path.c_str()); }

  // Lays out in `folder` (relative, "" for the client folder) the ".vwu"
  // files that classify as `state`; Data_Sending needs the ".txt" set.
  void lay(const std::string& folder, std::int32_t state) const {
    const std::string f = folder.empty() ? "" : folder + "/";
    dir.mkdir(folder.empty() ? "." : folder);
    if (state == Data_Sending) {
      dir.write(f + "result.txt", "r");
      return;
    }
    if (state == Data_nothing) return;
    dir.write(f + "version.vwu", "v");
    if (state == Data_Calculation_wait || state == Data_Calculation) dir.write(f + "work_unit.vwu", "work " + folder);
    if (state == Data_Calculation || state == Data_Calculation_completion) dir.write(f + "state.vwu", "prog=0.5\n");
    if (state == Data_Calculation_completion) dir.write(f + "result.vwu", "result " + folder);
    if (state == Data_Receiving) dir.write(f + "wtemp.vwu", "part");
  }

  // `prefix` is "" or a folder with its '/'.
  void put(const std::string& prefix, const Files& files) const {
    for (const auto& [name, text] : files) dir.write(prefix + name, text);
  }

  void given_units(std::int32_t mode, const std::vector<std::int32_t>& states) {
    ctx.mode = mode;
    ctx.units_local = static_cast<std::int32_t>(states.size());
    for (std::size_t i = 0; i < states.size(); ++i) ctx.unit_state[i] = states[i];
  }

  ScratchDir dir;
  FakeOs fake;
  CommandWorld world;
  ControllerContext ctx;
  const std::string P = dir.path();
};

class EngineTest : public ::testing::Test, public EngineWorld {};

}  // namespace vorcnt::testing
