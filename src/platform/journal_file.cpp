// The journal's policy, the same on every platform: a header opens an empty
// file, and a line torn by a power cut is ended before the next one.
#include "platform/journal_file.h"

#include <string>

#include "platform/files.h"

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
  if (s.ok()) s = closed;
  // A journal just made has a name only its folder's sync keeps: without it
  // a power cut could take the whole file.
  if (s.ok() && size == 0) {
    const std::string name(path);
    const std::size_t cut = name.find_last_of("/\\");
    s = sync_one_folder(cut == std::string::npos ? std::string() : name.substr(0, cut + 1));
  }
  return s;
}

}  // namespace vorcnt
