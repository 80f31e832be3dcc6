#include "platform/path_text.h"

#include <cstring>

namespace vorcnt {

bool cp932_lead_byte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

std::size_t path_char_size(std::string_view text, std::size_t at, LeadByteTest lead) {
  return lead(static_cast<unsigned char>(text[at])) && at + 1 < text.size() && text[at + 1] != '\0' ? 2 : 1;
}

std::size_t last_separator(std::string_view path, LeadByteTest lead) {
  std::size_t found = std::string_view::npos;
  for (std::size_t i = 0; i < path.size(); i += path_char_size(path, i, lead))
    if (path[i] == '\\' || path[i] == '/') found = i;
  return found;
}

bool ends_in_separator(std::string_view path, LeadByteTest lead) {
  return !path.empty() && last_separator(path, lead) == path.size() - 1;
}

void slashes_to_backslashes(char* path, LeadByteTest lead) {
  const std::string_view text(path, std::strlen(path));
  for (std::size_t i = 0; i < text.size(); i += path_char_size(text, i, lead))
    if (path[i] == '/') path[i] = '\\';
}

}  // namespace vorcnt
