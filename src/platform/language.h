// The user's language for the lines this program adds to the client's own.
// The client's lines keep their bytes in every language; ours are written in
// English, marked with N_ where they are defined, and looked up by tr() when
// they are formatted.
#pragma once

// Marks an English text for the translators' catalogue (po/). It stays the
// English text: tr() finds its translation when the text is printed.
#define N_(text) text

namespace vorcnt {

#if defined(__GNUC__)
#define VORCNT_FORMAT_ARG(n) __attribute__((format_arg(n)))
#else
#define VORCNT_FORMAT_ARG(n)
#endif

// Chooses the language from the user's settings: on POSIX, LANGUAGE,
// LC_ALL, LC_MESSAGES and LANG as gettext reads them; on Windows, the UI
// language, else a console in code page 932. The programs call it once at
// start. Until then tr() is English, so a test or a tool that never chooses
// speaks English whatever the machine's locale.
void choose_language();

// `english` in the chosen language, as code page 932 bytes like every
// console text; `english` itself when it has no translation. The result
// lives as long as the program.
const char* tr(const char* english) VORCNT_FORMAT_ARG(1);

}  // namespace vorcnt
