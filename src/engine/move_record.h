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

// The record's file, and the name it is written under first. `path` is the
// client folder as in the settings.
std::string move_record_path(const char* path);

// Reads every "*.vwu" regular file of `folder` once for its size and digest.
// On failure `why` names the file and the system's reason.
bool describe_sources(const std::string& folder, std::vector<RecordedFile>* files, std::string* why);

std::string format_move_record(const MoveRecord& record);
// Strict: anything but a whole record as format_move_record writes it is
// refused, with `why` saying where it stopped making sense.
bool parse_move_record(std::string_view text, MoveRecord* record, std::string* why);

// Writes the record whole and durably: under a temporary name, synced,
// renamed into place, and the folder synced, so a cut leaves either no
// record or a whole one.
Status write_move_record(Disk& disk, const char* path, const MoveRecord& record);
// Removes it and syncs the folder; the last step of a move.
Status remove_move_record(Disk& disk, const char* path);

enum class RecordRead { none, read, unreadable };
// The record at rest in the client folder, if any. `why` says what is wrong
// with an unreadable one.
RecordRead read_move_record(const char* path, MoveRecord* record, std::string* why);

}  // namespace vorcnt
