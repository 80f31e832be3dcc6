// printf-style console output through the seam.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "platform/os.h"

namespace vorcnt {

#if defined(__GNUC__)
#define VORCNT_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VORCNT_PRINTF(fmt, args)
#endif

// Formats like printf (no length limit) and writes the result to the console.
// A format with a translation (platform/language.h) is written in the
// user's language.
// A '%' followed by a control character, or at the very end of the format,
// ends formatting: it and the rest are written literally ("%f%\n").
void print(Os& os, const char* format, ...) VORCNT_PRINTF(2, 3);
void vprint(Os& os, const char* format, va_list args) VORCNT_PRINTF(2, 0);

// Stands, as an argument of print_showing's format, where its verbatim text
// goes. A byte no format or text of ours holds.
inline constexpr const char* kVerbatim = "\x1e";

// Formats like print, with `text` written unchanged (a path or what the user
// gave, never converted as CP932) where the format's argument is kVerbatim,
// so that a whole line stays one format: print_showing(os, path, "path:%s\n",
// kVerbatim).
void print_showing(Os& os, std::string_view text, const char* format, ...) VORCNT_PRINTF(3, 4);
void vprint_showing(Os& os, std::string_view text, const char* format, va_list args) VORCNT_PRINTF(3, 0);
// Writes `line`, a line already formatted, with `text` unchanged where
// kVerbatim stands in it.
void write_showing(Os& os, std::string_view text, std::string_view line);

// Formats like printf into a string, however long it gets, in the user's
// language as print writes it.
std::string format_text(const char* format, ...) VORCNT_PRINTF(1, 2);

// Writes `before`, then `text` unchanged (a path or what the user gave, never
// converted as CP932), then `after`. `before` and `after` are plain texts, not
// formats.
void print_verbatim(Os& os, std::string_view before, std::string_view text, std::string_view after);

}  // namespace vorcnt
