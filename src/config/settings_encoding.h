// vorcnt.cfg in the encodings an editor saves it in (Notepad: ANSI, UTF-8
// with or without a byte-order mark, "Unicode"), turned into the bytes the
// line reader expects: UTF-8 on POSIX, the local (ANSI) code page on Windows.
//
// A file that starts with a UTF-16 or UTF-8 mark is that encoding. A file
// without a mark is UTF-8 when it holds bytes above 0x7F and all of them form
// valid UTF-8 (no overlong forms, no surrogates); otherwise it is read as it
// stands, in the local code page.
#pragma once

#include <cstddef>
#include <string>

namespace vorcnt {

// Larger files that must be converted are refused rather than held in memory
// whole; a larger file without a mark is read as it stands.
constexpr std::size_t kMaxConvertedSettings = 1 << 20;

enum class SettingsEncoding {
  local,  // read the file as it stands
  utf16,  // converted into `text`
  utf8,   // converted into `text`
};

struct EncodedSettings {
  SettingsEncoding encoding = SettingsEncoding::local;
  // How the refusals name the form: "little-endian" or "big-endian" for
  // UTF-16, "with a byte-order mark" or "without a byte-order mark" for UTF-8.
  const char* form = "";
  bool too_big = false;   // over kMaxConvertedSettings bytes
  int bad_line = 0;       // the first line with no local form (from 1); 0: none
  bool not_utf8 = false;  // with a UTF-8 mark, bad_line is not UTF-8 at all
  std::string text;       // every line converted, without the mark
};

// Looks at `path` and converts it when it is UTF-16 or UTF-8. A file that
// cannot be opened is read as it stands (and its reader says so).
EncodedSettings read_encoded_settings(const char* path);

// True when `bytes` hold at least one byte above 0x7F and are all valid
// UTF-8: the test a file without a mark is put to.
bool looks_like_utf8(std::string_view bytes);

}  // namespace vorcnt
