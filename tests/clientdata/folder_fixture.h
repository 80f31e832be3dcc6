// Lays out client data folders in a scratch folder for the room's tests.
#pragma once

#include <string>
#include <vector>

#include "support/scratch.h"

namespace vorcnt::testing {

// One entry of a client folder: a file with its contents, or a folder when
// the name ends in '/'.
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

}  // namespace vorcnt::testing
