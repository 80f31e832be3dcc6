#include "engine/move_record.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/unit_folders.h"
#include "ground/messages.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/language.h"

namespace vorcnt {

namespace {

constexpr char kFirstLine[] = "vorcnt move record 1";
// A unit holds a handful of files; a record past this size is not ours.
constexpr std::size_t kMostRecordBytes = std::size_t{1} << 20;

// The next line of `text` from `at`, without its '\n'; false at the end or
// when the last line has no '\n' (a record is whole only up to "end\n").
bool next_line(std::string_view text, std::size_t* at, std::string_view* line) {
  if (*at >= text.size()) return false;
  const std::size_t end = text.find('\n', *at);
  if (end == std::string_view::npos) return false;
  *line = text.substr(*at, end - *at);
  *at = end + 1;
  return true;
}

// A decimal number of at most 19 digits, the whole of `word`.
bool parse_count(std::string_view word, std::uintmax_t* out) {
  if (word.empty() || word.size() > 19) return false;
  std::uintmax_t v = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uintmax_t>(c - '0');
  }
  *out = v;
  return true;
}

// Splits off the first blank-separated word of `rest`.
std::string_view take_word(std::string_view* rest) {
  const std::size_t blank = rest->find(' ');
  const std::string_view word = rest->substr(0, blank);
  *rest = blank == std::string_view::npos ? std::string_view() : rest->substr(blank + 1);
  return word;
}

bool parse_file_line(std::string_view rest, RecordedFile* file) {
  std::uintmax_t size = 0;
  if (!parse_count(take_word(&rest), &size)) return false;
  if (!Digest::from_hex(take_word(&rest), &file->digest)) return false;
  // The name is the rest of the line, blanks included.
  if (rest.empty() || rest.size() > kMaxFileName || !is_vwu_name(std::string(rest))) return false;
  if (rest.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) return false;
  file->size = size;
  file->name = std::string(rest);
  return true;
}

}  // namespace

std::string move_record_path(const char* path) { return path_in(path, kMoveRecordName); }

bool describe_sources(const std::string& folder, std::vector<RecordedFile>* files, std::string* why) {
  files->clear();
  const FolderListing listing = list_folder(folder);
  if (!listing.status.ok()) {
    *why = format_text(msg::kSourcesUnlisted, folder.empty() ? "." : folder.c_str());
    return false;
  }
  for (const FolderEntry& entry : listing.entries) {
    if (!entry.regular || !is_vwu_name(entry.name)) continue;
    if (entry.name.find_first_of("\r\n") != std::string::npos) {
      *why = tr(msg::kSourceNameHasLineBreak);
      return false;
    }
    RecordedFile file;
    file.name = entry.name;
    int error = 0;
    if (!digest_file(path_in(folder, entry.name), &file.digest, &file.size, &error)) {
      *why = format_text(msg::kSourceFileUnreadable, entry.name.c_str(), error_text(error));
      return false;
    }
    files->push_back(std::move(file));
  }
  std::sort(files->begin(), files->end(),
            [](const RecordedFile& a, const RecordedFile& b) { return a.name < b.name; });
  return true;
}

std::string format_move_record(const MoveRecord& record) {
  std::string out = kFirstLine;
  out += '\n';
  out += record.direction == MoveDirection::push ? "push " : "pop ";
  out += std::to_string(record.unit) + "\n";
  for (const RecordedFile& f : record.files)
    out += "file " + std::to_string(f.size) + " " + f.digest.hex() + " " + f.name + "\n";
  // The record is rewritten in place, so a cut while it is written can leave
  // any mixture of old and new bytes: the sum tells a whole one.
  out += "sum " + digest_of(out).hex() + "\n";
  out += "end\n";
  return out;
}

bool move_record_is_whole(std::string_view text) {
  constexpr std::string_view kEnd = "end\n";
  if (text.size() < kEnd.size() || text.substr(text.size() - kEnd.size()) != kEnd) return false;
  const std::string_view body = text.substr(0, text.size() - kEnd.size());
  const std::size_t sum_at = body.rfind("sum ");
  if (sum_at == std::string_view::npos || (sum_at != 0 && body[sum_at - 1] != '\n')) return false;
  Digest sum;
  return body.size() == sum_at + 4 + 32 + 1 && body.back() == '\n' &&
         Digest::from_hex(body.substr(sum_at + 4, 32), &sum) && sum == digest_of(body.substr(0, sum_at));
}

bool parse_move_record(std::string_view text, MoveRecord* record, std::string* why) {
  if (!move_record_is_whole(text)) {
    *why = N_("it is cut short");
    return false;
  }
  // The sum line was checked above; the lines before it are read here.
  text = text.substr(0, text.rfind("sum "));
  std::size_t at = 0;
  std::string_view line;
  if (!next_line(text, &at, &line) || line != kFirstLine) {
    *why = N_("it does not start as a move record");
    return false;
  }
  if (!next_line(text, &at, &line)) {
    *why = N_("it ends after its first line");
    return false;
  }
  MoveRecord parsed;
  const std::string_view direction = take_word(&line);
  std::uintmax_t unit = 0;
  if ((direction != "push" && direction != "pop") || !parse_count(line, &unit) || unit >= kMaxUnits) {
    *why = N_("its move line is not \"push N\" or \"pop N\"");
    return false;
  }
  parsed.direction = direction == "push" ? MoveDirection::push : MoveDirection::pop;
  parsed.unit = static_cast<int>(unit);
  while (next_line(text, &at, &line)) {
    RecordedFile file;
    if (line.substr(0, 5) != "file " || !parse_file_line(line.substr(5), &file)) {
      *why = N_("a file line is malformed");
      return false;
    }
    for (const RecordedFile& seen : parsed.files)
      if (seen.name == file.name) {
        *why = N_("it names a file twice");
        return false;
      }
    parsed.files.push_back(std::move(file));
  }
  if (at != text.size()) {
    *why = N_("a line is not whole");
    return false;
  }
  *record = std::move(parsed);
  return true;
}

Status write_move_record(Disk& disk, const char* path, const MoveRecord& record) {
  // Rewritten in place: the name stays between moves (empty), so a move
  // costs one sync of its record, not three.
  const std::string name = move_record_path(path);
  const bool named = presence(name) == Presence::present;
  Status s = disk.write_file(name, format_move_record(record));
  if (s.ok()) s = disk.sync_file(name);
  if (s.ok() && !named) s = disk.sync_folder(path);
  if (!s.ok()) (void)disk.write_file(name, "");  // the reason reported is the first
  return s;
}

Status clear_move_record(Disk& disk, const char* path) {
  // Not synced: should the emptying be lost, the record comes back naming a
  // move whose sources are gone, and the next start says it had finished.
  return disk.write_file(move_record_path(path), "");
}

RecordRead read_move_record(const char* path, MoveRecord* record, std::string* why) {
  const std::string name = move_record_path(path);
  // A link at the name was not made by the controller: what it leads to is
  // never taken for a record. One leading nowhere holds none, and the first
  // move refuses it.
  const bool link = is_foreign_link(name);
  if (presence(name) == Presence::absent) return RecordRead::none;
  if (link) {
    *why = msg::kNameIsAForeignLink;
    return RecordRead::unreadable;
  }
  const int fd = open_for_reading(name.c_str());
  if (fd < 0) {
    *why = N_("it cannot be opened");
    return RecordRead::unreadable;
  }
  std::string text;
  char buf[4096];
  long n;
  while ((n = read_some(fd, buf, sizeof buf)) > 0 && text.size() <= kMostRecordBytes)
    text.append(buf, static_cast<std::size_t>(n));
  close_handle(fd);
  if (n < 0) {
    *why = N_("it cannot be read through");
    return RecordRead::unreadable;
  }
  if (text.empty()) return RecordRead::none;
  if (text.size() > kMostRecordBytes) {
    *why = N_("it is far larger than any record");
    return RecordRead::unreadable;
  }
  if (!move_record_is_whole(text)) {
    // Emptied at start-up only when it is ours: it begins as a record does,
    // or holds nothing but the zero bytes of a write that never reached the
    // disk. Anything else under this name is left as it is.
    const std::string head = std::string(kFirstLine) + "\n";
    const bool ours = text.compare(0, head.size(), head, 0, std::min(text.size(), head.size())) == 0 ||
                      text.find_first_not_of('\0') == std::string::npos;
    *why = ours ? N_("it is cut short") : N_("it is not a move record");
    return ours ? RecordRead::cut_short : RecordRead::unreadable;
  }
  return parse_move_record(text, record, why) ? RecordRead::read : RecordRead::unreadable;
}

RecordAtStart record_at_start(RecordRead read) {
  switch (read) {
    case RecordRead::none: return RecordAtStart::nothing;
    case RecordRead::read: return RecordAtStart::put_right;
    // A move copies nothing until its record is whole on the disk.
    case RecordRead::cut_short: return RecordAtStart::emptied;
    case RecordRead::unreadable: break;
  }
  return RecordAtStart::stops;
}

}  // namespace vorcnt
