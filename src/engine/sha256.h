// SHA-256, self-contained: the journal names each work unit by a digest of
// its file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorcnt {

class Sha256 {
 public:
  Sha256();
  void update(const void* data, std::size_t size);
  std::array<std::uint8_t, 32> finish();

 private:
  void block(const std::uint8_t* p);
  std::uint32_t h_[8];
  std::uint8_t buf_[64];
  std::size_t used_ = 0;
  std::uint64_t total_ = 0;
};

// Lower-case hex digest of `data`.
std::string sha256_hex(std::string_view data);
// Lower-case hex digest of the file's bytes; empty when it cannot be read.
std::string sha256_file_hex(const char* path);

}  // namespace vorcnt
