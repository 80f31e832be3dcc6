// vorcnt.cfg saved as UTF-16 with a byte-order mark (an editor's "Unicode"),
// turned into the bytes the line reader expects.
#pragma once

#include <cstddef>
#include <string>

namespace vorcnt {

// Larger UTF-16 settings files are refused rather than held in memory whole.
constexpr std::size_t kMaxUtf16Settings = 1 << 20;

struct Utf16Settings {
  bool utf16 = false;             // the file starts with a UTF-16 byte-order mark
  const char* byte_order = "";    // "little-endian" or "big-endian"
  bool too_big = false;           // over kMaxUtf16Settings bytes
  int bad_line = 0;               // the first line with no local form (from 1); 0: none
  std::string text;               // every line converted, without the mark
};

// Looks at the start of `path`; reads and converts the whole file only when it
// is UTF-16. A file that cannot be opened is not UTF-16.
Utf16Settings read_utf16_settings(const char* path);

}  // namespace vorcnt
