// UTF-16 to the local (ANSI) code page, the text every reader and command
// line here is in. A character the code page lacks is refused, never
// replaced by a look-alike or "?": in a folder name that would be another
// folder.
#include <windows.h>

#include "platform/local_text.h"

namespace vorcnt {

bool utf16_to_local(std::u16string_view units, std::string* out) {
  if (units.empty()) return true;
  const UINT page = GetACP();
  const auto* wide = reinterpret_cast<const wchar_t*>(units.data());
  const int count = static_cast<int>(units.size());
  // UTF-8 as the local code page takes no best-fit flag and reports what it
  // cannot convert as an error instead.
  const DWORD flags = page == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL defaulted = FALSE;
  BOOL* used_default = page == CP_UTF8 ? nullptr : &defaulted;
  const int size = WideCharToMultiByte(page, flags, wide, count, nullptr, 0, nullptr, used_default);
  if (size <= 0 || defaulted) return false;
  std::string text(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(page, flags, wide, count, text.data(), size, nullptr, used_default) != size || defaulted)
    return false;
  out->append(text);
  return true;
}

std::string local_text_name() {
  const UINT page = GetACP();
  if (page == CP_UTF8) return "UTF-8";
  return "ANSI (code page " + std::to_string(page) + ")";
}

}  // namespace vorcnt
