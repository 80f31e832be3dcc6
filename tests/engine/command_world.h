// Carries out the engine's "copy", "del" and "mkdir" texts on the real file
// system, with the interpreter's meaning, so that engine tests see what a run
// would leave behind. It can be told to make the copies go wrong.
#pragma once

#include <string>

namespace vorcnt::testing {

class CommandWorld {
 public:
  enum class Fault {
    none,
    copy_fails,          // nothing copied, status 1
    copy_first_only,     // one file copied, status 0 all the same
    copy_truncates,      // every file copied, the last one cut short, status 0
    copy_zero_fills,     // every file copied, the last one the right size but all zero bytes, status 0
    copy_flips_a_byte,   // every file copied, the last one with its first byte changed, status 0
    destination_vanishes,  // the folder is gone when the copy runs: all files land in one file of its name
    delete_fails,          // "del" removes nothing, status 1 (a folder nothing can be removed from)
    delete_first_only,     // "del" removes one file, status 1
    delete_then_unlisted   // "del" removes the files, then their folder cannot be listed (a plain file takes its name)
  };

  // The FakeShell effect: returns the command's exit status. Other commands
  // do nothing and succeed.
  int operator()(const std::string& line) const;

  Fault fault = Fault::none;
};

}  // namespace vorcnt::testing
