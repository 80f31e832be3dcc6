// A compiled message catalogue (the .mo format msgfmt writes), read in place.
#pragma once

#include <cstdint>
#include <string_view>

namespace vorcnt {

class Catalogue {
 public:
  // `bytes` must outlive the catalogue. Bytes that are not a whole,
  // consistent catalogue give one that finds nothing.
  explicit Catalogue(std::string_view bytes);
  bool usable() const { return count_ > 0; }
  // The translation of `english`, in the catalogue's encoding and followed
  // by its NUL, or an empty view when there is none.
  std::string_view find(std::string_view english) const;

 private:
  std::string_view entry(std::uint32_t table, std::uint32_t i) const;
  std::string_view bytes_;
  std::uint32_t count_ = 0;
  std::uint32_t originals_ = 0;
  std::uint32_t translations_ = 0;
};

}  // namespace vorcnt
