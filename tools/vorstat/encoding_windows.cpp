// Code page 932 to UTF-8 through the system's code page tables.
#include <windows.h>

#include "encoding.h"

namespace vorcnt::vorstat {

std::string cp932_to_utf8(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int wide_len = ::MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (wide_len <= 0) return cp932_to_utf8_replacing(text);
  std::wstring wide(static_cast<std::size_t>(wide_len), L'\0');
  ::MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), wide_len);
  const int utf8_len = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_len, nullptr, 0, nullptr, nullptr);
  if (utf8_len <= 0) return cp932_to_utf8_replacing(text);
  std::string out(static_cast<std::size_t>(utf8_len), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_len, out.data(), utf8_len, nullptr, nullptr);
  return is_valid_utf8(out) ? out : cp932_to_utf8_replacing(text);
}

}  // namespace vorcnt::vorstat
