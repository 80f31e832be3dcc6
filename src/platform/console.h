// printf-style console output through the seam.
#pragma once

#include <cstdarg>

#include "platform/os.h"

namespace vorcnt {

#if defined(__GNUC__)
#define VORCNT_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VORCNT_PRINTF(fmt, args)
#endif

// Formats like printf (no length limit) and writes the result to the console.
// A '%' followed by a control character, or at the very end of the format,
// ends formatting: it and the rest are written literally ("%f%\n").
void print(Os& os, const char* format, ...) VORCNT_PRINTF(2, 3);
void vprint(Os& os, const char* format, va_list args) VORCNT_PRINTF(2, 0);

// Writes `before`, then `text` unchanged (a path or what the user gave, never
// converted as CP932), then `after`. `before` and `after` are plain texts, not
// formats.
void print_verbatim(Os& os, std::string_view before, std::string_view text, std::string_view after);

}  // namespace vorcnt
