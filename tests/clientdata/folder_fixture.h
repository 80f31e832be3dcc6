// Client data folders laid out in scratch folders for this module's tests.
#pragma once

#include <string>
#include <vector>

#include "support/scratch.h"

namespace vorcnt::testing {

// A file with its contents, or a folder when the name ends in '/'.
struct Entry {
  std::string name;
  std::string contents;
};

inline void lay_out(const ScratchDir& dir, const std::vector<Entry>& entries) {
  for (const Entry& e : entries) {
    if (!e.name.empty() && e.name.back() == '/')
      dir.mkdir(e.name);
    else
      dir.write(e.name, e.contents);
  }
}

// Names parameterised cases after their `label`.
inline constexpr auto kByLabel = [](const auto& p) { return std::string(p.param.label); };

}  // namespace vorcnt::testing
