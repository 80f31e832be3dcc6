// A 128-bit digest of a file's bytes: what a move record says each file must
// hold, and the journal's name for a work unit. Not for security: it tells a
// whole copy from a torn one, fast enough to run over every byte moved.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorcnt {

struct Digest {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  bool operator==(const Digest&) const = default;
  // 32 lower-case hex digits.
  std::string hex() const;
  // False unless `text` is exactly 32 hex digits.
  static bool from_hex(std::string_view text, Digest* out);
};

Digest digest_of(std::string_view bytes);

// Reads the regular file `path` once. False, with the system's error number
// in `error`, when it cannot be opened or read through.
bool digest_file(const std::string& path, Digest* digest, std::uintmax_t* size, int* error);

}  // namespace vorcnt
