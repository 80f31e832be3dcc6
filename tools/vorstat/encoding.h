// Text conversions for the JSON report. The client's files hold code page 932
// text; JSON must be UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace vorcnt::vorstat {

// Converts code page 932 bytes to UTF-8. Never fails: a byte sequence that is
// not valid code page 932 becomes U+FFFD, so the result is always valid UTF-8.
// One whole file per platform (iconv on POSIX, the code page API on Windows).
std::string cp932_to_utf8(std::string_view text);

// The converter's last resort when the platform has no code page 932 table:
// ASCII passes, a double-byte character or any other non-ASCII byte becomes
// one U+FFFD.
std::string cp932_to_utf8_replacing(std::string_view text);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool is_valid_utf8(std::string_view text);

// Decodes one code point of valid UTF-8 at text[pos] and advances pos.
char32_t next_code_point(std::string_view text, std::size_t& pos);

}  // namespace vorcnt::vorstat
