// The language through glibc's gettext, which reads the compiled catalogue
// installed beside the program (share/locale).
#include <libintl.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/language.h"

#ifndef VORCNT_LOCALEDIR
#define VORCNT_LOCALEDIR "/usr/share/locale"
#endif

namespace vorcnt {

namespace {

constexpr char kDomain[] = "vorcnt";
bool chosen = false;

// <program folder>/../share/locale when it holds the catalogue (a build
// folder, or an installation under any prefix), else where it is installed.
std::string catalogue_folder() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string folder(self, static_cast<std::size_t>(n));
    folder.erase(folder.find_last_of('/') + 1);
    folder += "../share/locale";
    if (::access((folder + "/ja/LC_MESSAGES/vorcnt.mo").c_str(), R_OK) == 0) return folder;
  }
  return VORCNT_LOCALEDIR;
}

// The locale name the user set for messages, as setlocale would take it.
const char* messages_locale_name() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* name = std::getenv(var);
    if (name != nullptr && *name != '\0') return name;
  }
  return nullptr;
}

// True for a locale whose messages are English anyway: unset, "C" (with
// or without a codeset), "POSIX" or an English one. The controller then
// never touches gettext, which costs its idle months nothing.
bool english_locale(const char* name) {
  if (name == nullptr || std::strcmp(name, "POSIX") == 0) return true;
  if (name[0] == 'C' && (name[1] == '\0' || name[1] == '.')) return true;
  const char* language = std::getenv("LANGUAGE");
  return std::strncmp(name, "en", 2) == 0 && (name[2] == '\0' || name[2] == '_' || name[2] == '.') &&
         (language == nullptr || *language == '\0');
}

}  // namespace

void choose_language() {
  const char* name = messages_locale_name();
  if (english_locale(name)) return;
  // Only the messages follow the user: the rest of the program's locale
  // stays "C", and so do number formats and byte classes.
  if (std::setlocale(LC_MESSAGES, "") == nullptr) {
    // The user's locale (ja_JP.UTF-8, say) is named but not installed. Its
    // name still says which language the user reads, and gettext looks a
    // language up through LANGUAGE once the messages' locale is not "C".
    // The programs the controller starts inherit it, which says no more
    // than the locale name they inherit beside it.
    if (std::setlocale(LC_MESSAGES, "C.UTF-8") == nullptr) return;
    const char* language = std::getenv("LANGUAGE");
    if (language == nullptr || *language == '\0') {
      std::string wanted(name, std::strcspn(name, ".@"));
      if (::setenv("LANGUAGE", wanted.c_str(), 1) != 0) return;
    }
  }
  const std::string folder = catalogue_folder();
  if (::bindtextdomain(kDomain, folder.c_str()) == nullptr) return;
  // Every console text is code page 932, and so is the compiled catalogue:
  // bound to it, gettext returns the translations as they are.
  if (::bind_textdomain_codeset(kDomain, "CP932") == nullptr) return;
  chosen = true;
}

const char* tr(const char* english) {
  if (!chosen || *english == '\0') return english;
  return ::dgettext(kDomain, english);
}

}  // namespace vorcnt
