// UTF-16 text in the bytes this platform's readers expect: UTF-8 on POSIX,
// the local (ANSI) code page on Windows. For a settings file that an editor
// saved as UTF-16 ("Unicode").
#pragma once

#include <string>
#include <string_view>

namespace vorcnt {

// Appends `units` converted to `out`. False, with `out` as it was, when some
// of them have no form here (an unpaired surrogate; on Windows a character
// outside the code page).
bool utf16_to_local(std::u16string_view units, std::string* out);

// What utf16_to_local gives, as an editor names it when saving ("UTF-8",
// "ANSI (code page 1252)").
std::string local_text_name();

}  // namespace vorcnt
