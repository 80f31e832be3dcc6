// Scans of the client folder's name. On Windows the name is in the ANSI code
// page, where the second byte of a double-byte character may be '\', '|' or
// '^' (ソ is 0x83 0x5C, タ is 0x83 0x5E): a scan byte by byte finds a
// separator or a refused character in the middle of a letter. Every scan here
// steps over a lead byte and the byte after it. ASCII names scan as before.
#pragma once

#include <cstddef>
#include <string_view>

namespace vorcnt {

using LeadByteTest = bool (*)(unsigned char);

// True when `c` starts a double-byte character in this platform's names: a
// lead byte of the ANSI code page on Windows; never on POSIX, whose UTF-8
// names never hold an ASCII byte inside a character. One backend per platform.
bool path_lead_byte(unsigned char c);
// The lead bytes of code page 932, whatever the platform.
bool cp932_lead_byte(unsigned char c);

// Bytes of the character at `at` in `text`: 2 for a lead byte with a byte
// after it, else 1.
std::size_t path_char_size(std::string_view text, std::size_t at, LeadByteTest lead = path_lead_byte);
// Where the last '\' or '/' of its own stands; npos when there is none.
std::size_t last_separator(std::string_view path, LeadByteTest lead = path_lead_byte);
bool ends_in_separator(std::string_view path, LeadByteTest lead = path_lead_byte);
// Turns every '/' of its own into '\', in place.
void slashes_to_backslashes(char* path, LeadByteTest lead = path_lead_byte);

// Puts `path` (NUL-terminated) in the form this platform's interpreter reads
// as a folder: on Windows, whose cmd reads '/' as the start of a switch, each
// '/' becomes '\'; on POSIX nothing changes. One backend per platform.
void to_native_separators(char* path);

// How to give a client folder whose name holds a blank, in words (English:
// tr() gives the user's language). One backend per platform: Windows has
// short names, POSIX has links.
const char* blank_in_path_fix();

}  // namespace vorcnt
