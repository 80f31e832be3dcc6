// printf-style console output through the seam.
#pragma once

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

}  // namespace vorcnt
