// The record a push or a pop writes before its first file is copied and
// removes once its sources are gone: what moves, in which direction, and
// what each file must hold. Start-up repairs only what a record names, so
// nothing is ever judged by what files merely look like.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/digest.h"
#include "platform/os.h"
#include "platform/status.h"

namespace vorcnt {

// In the client folder; the client ignores it and "*.vwu" never matches it.
inline constexpr char kMoveRecordName[] = "vorcnt.move";

enum class MoveDirection { push, pop };  // push: client folder to unit folder

struct RecordedFile {
  std::string name;
  std::uintmax_t size = 0;
  Digest digest;
};

struct MoveRecord {
  MoveDirection direction = MoveDirection::push;
  int unit = 0;
  std::vector<RecordedFile> files;  // the sources, sorted by name
};

// The record's file. `path` is the client folder as in the settings. It is
// empty, or absent, while no move is under way.
std::string move_record_path(const char* path);

// Reads every "*.vwu" regular file of `folder` once for its size and digest.
// On failure `why` names the file and the system's reason.
bool describe_sources(const std::string& folder, std::vector<RecordedFile>* files, std::string* why);

// A record ends in a sum of its other lines and "end".
std::string format_move_record(const MoveRecord& record);
// True when `text` ends in "end" after a sum that matches the lines before it.
bool move_record_is_whole(std::string_view text);
// Strict: anything but a whole record as format_move_record writes it is
// refused, with `why` saying where it stopped making sense.
bool parse_move_record(std::string_view text, MoveRecord* record, std::string* why);

// Writes the record over the last one and syncs it (and the folder, the
// first time). A move copies nothing until this succeeded, so a record that
// is not whole belongs to a move that never began.
Status write_move_record(Disk& disk, const char* path, const MoveRecord& record);
// Empties it; the last step of a move, once the sources are gone and their
// folder is synced.
Status clear_move_record(Disk& disk, const char* path);

enum class RecordRead { none, read, cut_short, unreadable };
// The record at rest in the client folder, if any: none when it is absent or
// empty; cut_short when a cut fell while it was written; unreadable when it
// is whole but makes no sense. `why` says what is wrong.
RecordRead read_move_record(const char* path, MoveRecord* record, std::string* why);

// What the controller's start does with a record so read: the one account
// of it, which vorstat reports too.
enum class RecordAtStart {
  nothing,    // no record
  put_right,  // its move is finished or undone by the record
  emptied,    // cut short: its move never began, so it is emptied and the start goes on
  stops,      // it cannot be used: nothing is repaired
};
RecordAtStart record_at_start(RecordRead read);

}  // namespace vorcnt
