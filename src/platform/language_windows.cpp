// The language from a catalogue compiled into the program, so that the zip
// stays a folder of files with nothing to install beside them.
#include <windows.h>

#include <map>
#include <string>

#include "platform/catalogue.h"
#include "platform/language.h"

namespace vorcnt {

extern const unsigned char kJapaneseCatalogue[];
extern const std::size_t kJapaneseCatalogueSize;

namespace {

struct Japanese {
  Catalogue catalogue{std::string_view(reinterpret_cast<const char*>(kJapaneseCatalogue), kJapaneseCatalogueSize)};
  // Each translation converted to code page 932 once, when first printed,
  // by where it sits in the catalogue.
  std::map<const char*, std::string> converted;
};

Japanese* japanese = nullptr;

std::string to_cp932(std::string_view utf8) {
  const int wide_n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (wide_n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(wide_n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), wide_n);
  BOOL lost = FALSE;
  const int n = ::WideCharToMultiByte(932, 0, wide.data(), wide_n, nullptr, 0, nullptr, &lost);
  if (n <= 0 || lost) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(932, 0, wide.data(), wide_n, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

void choose_language() {
  const bool ui_japanese = PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_JAPANESE;
  UINT page = ::GetConsoleOutputCP();
  if (page == 0) page = ::GetACP();  // no console: a service, a task
  if (!ui_japanese && page != 932) return;
  static Japanese chosen;
  if (!chosen.catalogue.usable()) return;
  japanese = &chosen;
}

const char* tr(const char* english) {
  if (japanese == nullptr || *english == '\0') return english;
  const std::string_view found = japanese->catalogue.find(english);
  if (found.empty()) return english;
  auto [at, fresh] = japanese->converted.try_emplace(found.data());
  if (fresh) at->second = to_cp932(found);
  // A text with no code page 932 form stays English rather than garbled.
  return at->second.empty() ? english : at->second.c_str();
}

}  // namespace vorcnt
