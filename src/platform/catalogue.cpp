#include "platform/catalogue.h"

#include <cstring>

namespace vorcnt {

namespace {

constexpr std::uint32_t kMagic = 0x950412deu;

// The catalogue is made by the same build, in the machine's byte order.
std::uint32_t word(std::string_view bytes, std::size_t at) {
  std::uint32_t w = 0;
  std::memcpy(&w, bytes.data() + at, sizeof w);
  return w;
}

}  // namespace

Catalogue::Catalogue(std::string_view bytes) : bytes_(bytes) {
  if (bytes.size() < 20) return;
  if (word(bytes, 0) != kMagic) return;
  const std::uint32_t count = word(bytes, 8);
  const std::uint32_t originals = word(bytes, 12);
  const std::uint32_t translations = word(bytes, 16);
  const std::size_t table = std::size_t{count} * 8;
  if (originals > bytes.size() || bytes.size() - originals < table || translations > bytes.size() ||
      bytes.size() - translations < table)
    return;
  // Every string is checked once here, so that a lookup never reads past
  // the bytes; each must end in the NUL msgfmt puts after it.
  for (std::uint32_t t : {originals, translations}) {
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t length = word(bytes, t + std::size_t{i} * 8);
      const std::uint32_t offset = word(bytes, t + std::size_t{i} * 8 + 4);
      if (offset >= bytes.size() || bytes.size() - offset <= length || bytes[offset + length] != '\0') return;
    }
  }
  count_ = count;
  originals_ = originals;
  translations_ = translations;
}

std::string_view Catalogue::entry(std::uint32_t table, std::uint32_t i) const {
  const std::uint32_t length = word(bytes_, table + std::size_t{i} * 8);
  const std::uint32_t offset = word(bytes_, table + std::size_t{i} * 8 + 4);
  return bytes_.substr(offset, length);
}

std::string_view Catalogue::find(std::string_view english) const {
  // msgfmt sorts the originals by their bytes.
  std::uint32_t low = 0;
  std::uint32_t high = count_;
  while (low < high) {
    const std::uint32_t mid = low + (high - low) / 2;
    const int order = entry(originals_, mid).compare(english);
    if (order == 0) return entry(translations_, mid);
    if (order < 0)
      low = mid + 1;
    else
      high = mid;
  }
  return {};
}

}  // namespace vorcnt
