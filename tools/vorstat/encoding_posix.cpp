// Code page 932 to UTF-8 through iconv.
#include <iconv.h>

#include <cerrno>

#include "encoding.h"

namespace vorcnt::vorstat {

std::string cp932_to_utf8(std::string_view text) {
  iconv_t cd = ::iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return cp932_to_utf8_replacing(text);

  std::string out;
  std::string in_copy(text);  // iconv wants a mutable input pointer
  char* in = in_copy.data();
  std::size_t in_left = in_copy.size();
  char buffer[256];
  while (in_left > 0) {
    char* dst = buffer;
    std::size_t dst_left = sizeof buffer;
    const std::size_t rc = ::iconv(cd, &in, &in_left, &dst, &dst_left);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    if (rc != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // An invalid or cut-off sequence: mark it and go on with the next byte.
    out += "\xEF\xBF\xBD";
    ++in;
    --in_left;
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  ::iconv_close(cd);
  // Whatever the converter produced, the caller is promised valid UTF-8.
  return is_valid_utf8(out) ? out : cp932_to_utf8_replacing(text);
}

}  // namespace vorcnt::vorstat
