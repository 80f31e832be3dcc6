// The language from a catalogue compiled into the program, so that the zip
// stays a folder of files with nothing to install beside them. The build
// compiles it in code page 932, the console's own bytes.
#include <windows.h>

#include "platform/catalogue.h"
#include "platform/language.h"

namespace vorcnt {

extern const unsigned char kJapaneseCatalogue[];
extern const std::size_t kJapaneseCatalogueSize;

namespace {

const Catalogue* japanese = nullptr;

}  // namespace

void choose_language() {
  const bool ui_japanese = PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_JAPANESE;
  UINT page = ::GetConsoleOutputCP();
  if (page == 0) page = ::GetACP();  // no console: a service, a task
  if (!ui_japanese && page != 932) return;
  static const Catalogue chosen(
      std::string_view(reinterpret_cast<const char*>(kJapaneseCatalogue), kJapaneseCatalogueSize));
  if (chosen.usable()) japanese = &chosen;
}

const char* tr(const char* english) {
  if (japanese == nullptr || *english == '\0') return english;
  // Each translation in the catalogue ends in a NUL of its own.
  const std::string_view found = japanese->find(english);
  return found.empty() ? english : found.data();
}

}  // namespace vorcnt
