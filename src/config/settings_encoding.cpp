#include "config/settings_encoding.h"

#include <cstdint>
#include <string_view>

#include "ground/text.h"
#include "platform/files.h"
#include "platform/language.h"
#include "platform/local_text.h"

namespace vorcnt {

namespace {

// Up to `limit` + 1 bytes of the open file: one more than allowed tells that
// it is too big.
std::string read_up_to(int handle, std::size_t limit) {
  std::string bytes;
  char chunk[16384];
  long n = 0;
  while (bytes.size() <= limit && (n = read_some(handle, chunk, sizeof chunk)) > 0)
    bytes.append(chunk, static_cast<std::size_t>(n));
  return bytes;
}

// The length of the UTF-8 character at `i`, or 0 when the bytes there are
// not one: strict, so an overlong form or a surrogate is no character.
std::size_t utf8_char_size(std::string_view s, std::size_t i, std::uint32_t* code) {
  const auto byte = [&](std::size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u; };
  const unsigned b0 = byte(0);
  if (b0 < 0x80) {
    *code = b0;
    return 1;
  }
  // The second byte's bounds shut out the overlong forms (E0, F0), the
  // surrogates (ED) and what lies past U+10FFFF (F4).
  std::size_t size = 0;
  unsigned low = 0x80, high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    size = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    size = 3;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    size = 4;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) return 0;
  std::uint32_t c = b0 & (0xFF >> (size + 1));
  for (std::size_t k = 1; k < size; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
    c = c << 6 | (byte(k) & 0x3F);
  }
  *code = c;
  return size;
}

// `line` as UTF-16; false when it is not valid UTF-8.
bool utf8_to_utf16(std::string_view line, std::u16string* units) {
  units->clear();
  for (std::size_t i = 0, size; i < line.size(); i += size) {
    std::uint32_t c = 0;
    if ((size = utf8_char_size(line, i, &c)) == 0) return false;
    if (c < 0x10000) {
      units->push_back(static_cast<char16_t>(c));
    } else {
      units->push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      units->push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
  return true;
}

// Appends `line` in the local code page. A comment applies nothing, so one
// the code page cannot hold (Japanese notes read on a Western system) is kept
// as an empty comment; only a setting refuses the file.
bool put_line(std::u16string_view line, std::string* text) {
  if (utf16_to_local(line, text)) return true;
  std::size_t at = 0;
  while (at < line.size() && line[at] < 0x80 && is_blank(static_cast<char>(line[at]))) ++at;
  if (at == line.size() || (line[at] != u'#' && line[at] != u';' && line[at] != u'/')) return false;
  text->append(line.ends_with(u'\n') ? "#\n" : "#");
  return true;
}

// Line by line, so that a refusal can say which line.
void convert_utf8(std::string_view bytes, EncodedSettings* s) {
  std::u16string units;
  int line = 1;
  for (; !bytes.empty(); ++line) {
    std::size_t end = bytes.find('\n');
    end = end == std::string_view::npos ? bytes.size() : end + 1;
    if (!utf8_to_utf16(bytes.substr(0, end), &units)) {
      s->not_utf8 = true;
      break;
    }
    if (!put_line(units, &s->text)) break;
    bytes.remove_prefix(end);
  }
  if (!bytes.empty()) {
    s->bad_line = line;
    s->text.clear();
  }
}

void convert_utf16(std::string_view bytes, bool little, EncodedSettings* s) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const auto lo = static_cast<unsigned char>(bytes[little ? i : i + 1]);
    const auto hi = static_cast<unsigned char>(bytes[little ? i + 1 : i]);
    units.push_back(static_cast<char16_t>(hi << 8 | lo));
  }
  std::u16string_view rest(units);
  int line = 1;
  for (; !rest.empty(); ++line) {
    const std::size_t end = rest.find(u'\n');
    if (end == std::u16string_view::npos) break;
    if (!put_line(rest.substr(0, end + 1), &s->text)) {
      s->bad_line = line;
      break;
    }
    rest.remove_prefix(end + 1);
  }
  // The last line has no line end; half a code unit after it is a character
  // cut off.
  if (s->bad_line == 0 && (!put_line(rest, &s->text) || bytes.size() % 2 != 0)) s->bad_line = line;
  if (s->bad_line != 0) s->text.clear();
}

}  // namespace

bool looks_like_utf8(std::string_view bytes) {
  bool wide = false;
  for (std::size_t i = 0, size; i < bytes.size(); i += size) {
    std::uint32_t c = 0;
    if ((size = utf8_char_size(bytes, i, &c)) == 0) return false;
    wide = wide || size > 1;
  }
  return wide;
}

EncodedSettings read_encoded_settings(const char* path) {
  EncodedSettings s;
  const int handle = open_for_reading(path);
  if (handle < 0) return s;
  const std::string bytes = read_up_to(handle, kMaxConvertedSettings);
  close_handle(handle);
  const std::string_view all(bytes);
  const bool utf8_mark = all.starts_with("\xEF\xBB\xBF");
  const bool little = all.starts_with("\xFF\xFE");
  if (utf8_mark || little || all.starts_with("\xFE\xFF")) {
    s.encoding = utf8_mark ? SettingsEncoding::utf8 : SettingsEncoding::utf16;
    s.form = utf8_mark ? N_("with a byte-order mark") : little ? N_("little-endian") : N_("big-endian");
    s.too_big = bytes.size() > kMaxConvertedSettings;
    if (s.too_big) return s;
    if (utf8_mark)
      convert_utf8(all.substr(3), &s);
    else
      convert_utf16(all, little, &s);
    return s;
  }
  // Without a mark: a file too big to look at whole is read as it stands.
  if (bytes.size() > kMaxConvertedSettings || !looks_like_utf8(all)) return s;
  s.encoding = SettingsEncoding::utf8;
  s.form = N_("without a byte-order mark");
  convert_utf8(all, &s);
  return s;
}

}  // namespace vorcnt
