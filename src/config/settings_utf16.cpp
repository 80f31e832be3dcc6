#include "config/settings_utf16.h"

#include <string_view>

#include "platform/files.h"
#include "platform/local_text.h"

namespace vorcnt {

namespace {

// Up to `limit` + 1 bytes of the open file: one more than allowed tells that
// it is too big.
std::string read_up_to(int handle, std::size_t limit) {
  std::string bytes;
  char chunk[16384];
  long n = 0;
  while (bytes.size() <= limit && (n = read_some(handle, chunk, sizeof chunk)) > 0)
    bytes.append(chunk, static_cast<std::size_t>(n));
  return bytes;
}

}  // namespace

Utf16Settings read_utf16_settings(const char* path) {
  Utf16Settings s;
  const int handle = open_for_reading(path);
  if (handle < 0) return s;
  const std::string bytes = read_up_to(handle, kMaxUtf16Settings);
  close_handle(handle);
  if (bytes.size() < 2) return s;
  const auto b0 = static_cast<unsigned char>(bytes[0]), b1 = static_cast<unsigned char>(bytes[1]);
  const bool little = b0 == 0xFF && b1 == 0xFE;
  if (!little && !(b0 == 0xFE && b1 == 0xFF)) return s;
  s.utf16 = true;
  s.byte_order = little ? "little-endian" : "big-endian";
  if (bytes.size() > kMaxUtf16Settings) {
    s.too_big = true;
    return s;
  }
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const auto lo = static_cast<unsigned char>(bytes[little ? i : i + 1]);
    const auto hi = static_cast<unsigned char>(bytes[little ? i + 1 : i]);
    units.push_back(static_cast<char16_t>(hi << 8 | lo));
  }
  // Line by line, so that a refusal can say which line.
  std::u16string_view rest(units);
  int line = 1;
  for (; !rest.empty(); ++line) {
    const std::size_t end = rest.find(u'\n');
    if (end == std::u16string_view::npos) break;
    if (!utf16_to_local(rest.substr(0, end + 1), &s.text)) {
      s.bad_line = line;
      break;
    }
    rest.remove_prefix(end + 1);
  }
  // The last line has no line end; half a code unit after it is a character
  // cut off.
  if (s.bad_line == 0 && (!utf16_to_local(rest, &s.text) || bytes.size() % 2 != 0)) s.bad_line = line;
  if (s.bad_line != 0) s.text.clear();
  return s;
}

}  // namespace vorcnt
