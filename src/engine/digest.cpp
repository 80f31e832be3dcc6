#include "engine/digest.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/files.h"

// The library is used as a header only, so no shared object is mapped into a
// program that sleeps for months.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace vorcnt {

namespace {

Digest from_xxh(const XXH128_hash_t& h) { return Digest{h.high64, h.low64}; }

struct Handle {
  int fd = -1;
  ~Handle() {
    if (fd >= 0) close_handle(fd);
  }
};

}  // namespace

std::string Digest::hex() const {
  char buf[33];
  std::snprintf(buf, sizeof buf, "%016llx%016llx", static_cast<unsigned long long>(high),
                static_cast<unsigned long long>(low));
  return buf;
}

bool Digest::from_hex(std::string_view text, Digest* out) {
  if (text.size() != 32) return false;
  std::uint64_t parts[2] = {0, 0};
  for (std::size_t i = 0; i < 32; ++i) {
    const char c = text[i];
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else
      return false;
    parts[i / 16] = parts[i / 16] << 4 | static_cast<std::uint64_t>(v);
  }
  *out = Digest{parts[0], parts[1]};
  return true;
}

Digest digest_of(std::string_view bytes) { return from_xxh(XXH3_128bits(bytes.data(), bytes.size())); }

bool digest_file(const std::string& path, Digest* digest, std::uintmax_t* size, int* error) {
  Handle file;
  errno = 0;
  std::uintmax_t opened_size = 0;
  file.fd = open_for_reading(path.c_str(), &opened_size);
  if (file.fd < 0) {
    *error = errno != 0 ? errno : ENOENT;
    return false;
  }
  XXH3_state_t state;
  XXH3_128bits_reset(&state);
  // Large reads straight into one buffer: work units run from kilobytes to a
  // gigabyte, and the digest keeps pace with the disk.
  constexpr std::size_t kChunk = std::size_t{1} << 17;
  const std::unique_ptr<char[]> buf(new char[kChunk]);
  std::uintmax_t total = 0;
  for (;;) {
    errno = 0;
    const long n = read_some(file.fd, buf.get(), kChunk);
    if (n < 0) {
      *error = errno != 0 ? errno : EIO;
      return false;
    }
    if (n == 0) break;
    XXH3_128bits_update(&state, buf.get(), static_cast<std::size_t>(n));
    total += static_cast<std::uintmax_t>(n);
    // A short read that ends where the file ended when it was opened is its
    // end: a read for the end would only say so, and bytes added after it
    // could as well have come after that read.
    if (static_cast<std::size_t>(n) < kChunk && total == opened_size) break;
  }
  *digest = from_xxh(XXH3_128bits_digest(&state));
  *size = total;
  return true;
}

}  // namespace vorcnt
