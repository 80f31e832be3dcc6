// Code page 932 to UTF-8 through the controller's converter (iconv).
#include "encoding.h"
#include "platform/cp932.h"

namespace vorcnt::vorstat {

std::string cp932_to_utf8(std::string_view text) {
  Cp932ToUtf8 converter(Cp932ToUtf8::Bad::replace);
  if (!converter.usable()) return cp932_to_utf8_replacing(text);
  std::string out;
  converter.convert(text, &out);
  converter.release(&out);  // a cut-off last character
  // Whatever the converter produced, the caller is promised valid UTF-8.
  return is_valid_utf8(out) ? out : cp932_to_utf8_replacing(text);
}

}  // namespace vorcnt::vorstat
