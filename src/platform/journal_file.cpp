// The journal's policy, the same on every platform: a header opens an empty
// file, and a line torn by a power cut is ended before the next one.
#include "platform/journal_file.h"

#include <string>

namespace vorcnt {

Status append_journal_line(const char* path, std::string_view header, std::string_view line) {
  JournalFile file;
  Status s = file.open(path);
  std::uint64_t size = 0;
  if (s.ok()) s = file.size(&size);
  if (!s.ok()) return s;
  std::string text;
  char last = '\n';
  if (size == 0) {
    text.assign(header);
  } else if (file.byte_at(size - 1, &last) && last != '\n') {  // unreadable: taken as whole
    text.push_back('\n');
  }
  text.append(line);
  s = file.append(text);
  if (s.ok()) s = file.sync();
  Status closed = file.close();
  return s.ok() ? closed : s;
}

}  // namespace vorcnt
