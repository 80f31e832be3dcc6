// File probes and the text-file reader. These go to the real file system on
// every platform; on POSIX a backslash in a name is a folder separator too, so
// the names the controller forms ("%sunit%d\", "%s\") work unchanged.
#pragma once

#include <cstdint>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vorcnt {

// Longest full file name the probes and readers accept; longer names count as
// absent rather than being cut.
constexpr std::size_t kMaxFileName = 255;

// The name as the OS wants it (backslashes become slashes on POSIX).
std::string native_path(const char* path);

// The controller's names are bytes as the system's narrow calls take them:
// on Windows in the ANSI code page (932 on a Japanese system), which
// std::filesystem would read as UTF-8 there. Every name goes to the library
// through fs_path and comes back through fs_name; open_file is fopen for them.
std::filesystem::path fs_path(const std::string& name);
std::string fs_name(const std::filesystem::path& path);
std::FILE* open_file(const char* name, const char* mode);

// Raw reads for the text reader, one backend per platform. open_for_reading
// gives -1 when the file cannot be opened or is not a regular file (a FIFO or
// a device must never block or feed the reader for ever); read_some gives the
// bytes read, 0 at the end and -1 on an error.
int open_for_reading(const char* path);
// The same, with the file's size as it stood when opened.
int open_for_reading(const char* path, std::uintmax_t* size);
long read_some(int handle, char* buf, std::size_t size);
void close_handle(int handle);

// True when `path` names an existing file or folder.
bool path_exists(const char* path);
// True when `path` names an existing folder.
bool is_directory(const char* path);
// True when the name itself is taken, by anything: a link that leads
// nowhere counts, where path_exists looks through it.
bool name_taken(const char* path);
// Last-modification time in whole seconds since 1970, and the size when
// `size` is given, from one look; false when absent.
bool file_mtime(const char* path, std::int64_t* mtime, std::uintmax_t* size = nullptr);
// file_mtime for several files of one folder (the folder text, ending in a
// separator or empty), the folder looked up once rather than once per file.
class FolderDates {
 public:
  explicit FolderDates(const char* folder);
  ~FolderDates();
  FolderDates(const FolderDates&) = delete;
  FolderDates& operator=(const FolderDates&) = delete;
  // As file_mtime of the folder text followed by `name`.
  bool file_mtime(const char* name, std::int64_t* mtime, std::uintmax_t* size);

 private:
  const char* folder_;
  int handle_ = -1;
};

// Folder contents and the file moves the engine makes itself. Folders are
// given as in the command lines ("" is the current folder, a trailing
// separator of either kind is allowed); files as path_in() forms them.
//
// The file `name` in the folder, as the OS wants it.
std::string path_in(const std::string& folder, const std::string& name);
struct FolderEntry {
  std::string name;
  bool regular = false;  // a regular file (through a link); false when unknown
};
// `status` fails when the folder cannot be read at all, or when reading it
// stopped partway (the entries read so far are kept).
struct FolderListing {
  Status status;
  std::vector<FolderEntry> entries;
};
FolderListing list_folder(const std::string& folder);
// True when the folder's name is taken by something that is not a folder.
bool exists_but_not_folder(const std::string& folder);
// False when the size cannot be had.
bool file_size_of(const std::string& path, std::uintmax_t* size);
// False when not a regular file or when that cannot be told.
bool is_regular_file(const std::string& path);
// True when the name itself is a symbolic link (a reparse point on
// Windows), whatever it leads to.
bool is_foreign_link(const std::string& path);
enum class Presence { absent, present, unknown };
Presence presence(const std::string& path);
// One look at a name that does not follow a link at it: what a check that
// refuses links and then wants the file's presence, kind or size would
// otherwise learn from two or three.
struct NameLook {
  Presence presence = Presence::unknown;
  bool link = false;     // the name itself is a link (a reparse point on Windows)
  bool regular = false;  // a regular file, not a link
  std::uintmax_t size = 0;
};
NameLook look_at_name(const std::string& path);
// A missing file is no error. `removed` says whether a file went.
Status remove_file(const std::string& path, bool* removed = nullptr);
// Copies to a name not yet taken (a taken name is a failure).
Status copy_new_file(const std::string& from, const std::string& to);
// Replaces `to` if it exists.
Status rename_file(const std::string& from, const std::string& to);
// Makes the folder and those above it; one that exists already is no error.
Status create_folders(const std::string& path);
// True when both files can be read and hold the same bytes.
bool same_contents(const std::string& a, const std::string& b);

// Durability of a move. A copy is only as safe as what the disk holds: the
// page cache dies with the power, so a copy must reach the disk before its
// source is deleted, and a delete should reach it before anything else.
//
// Pushes the named files of `folder` (given as in the command lines), and the
// folder's own entries, to the disk. A failure names the first file that
// could not be flushed, or the folder.
Status sync_files(const std::string& folder, const std::vector<std::string>& names);
// On by default. Benchmarks turn it off to measure what durability costs;
// the controller never does. Covers the syncs below and the built-in copy
// command.
void set_durable_writes(bool on);
bool durable_writes();

// The backends of the real Disk (disk.h), one per platform. While durable
// writes are off the two syncs succeed at once. sync_one_folder pushes a
// folder's entries (names added or removed) to the disk.
Status write_whole_file(const std::string& path, std::string_view bytes);
Status sync_one_file(const std::string& path);
Status sync_one_folder(const std::string& folder);
// As write_whole_file, but only to a name not taken yet, never through a link.
Status write_whole_new_file(const std::string& path, std::string_view bytes);
bool is_symbolic_link(const std::string& path);

// Writes `bytes` to `path` through "<path>.new" and a rename, so that a reader
// sees the old file or the new one, never a part. Never through a link: the
// temporary name is made afresh (one left behind is removed first, a link
// included, never followed), and a link or anything but a regular file at
// `path` is refused. Not synced: for files that are advisory.
Status replace_small_file(const std::string& path, std::string_view bytes);

// What a file or folder is, whatever name reaches it: two names with the
// same identity (a link, a bind mount, a junction) are one file.
struct FileIdentity {
  std::uint64_t volume = 0;  // device, or volume serial number
  std::uint64_t index = 0;   // inode, or file index
  bool operator==(const FileIdentity&) const = default;
};
// Follows links. False when `path` cannot be looked at.
bool file_identity(const std::string& path, FileIdentity* identity);
// file_identity of a folder; false too when `path` is no folder.
bool folder_identity(const std::string& path, FileIdentity* identity);

// Why nothing can be created in `folder` ("" is the current folder), or why
// `file` cannot be read; ok when nothing says so. For failure lines only.
Status check_writable(const char* folder);
// A full disk when `folder` has room for fewer than `bytes` more bytes; ok
// otherwise, or when that cannot be told.
Status check_room(const char* folder, std::uintmax_t bytes);
Status check_readable(const char* file);

// The characters this platform's command interpreter reads specially. The
// command texts carry the client folder unquoted, so a folder holding one of
// them (or a blank or a control byte) is refused when the settings are read.
extern const char kInterpreterSpecials[];

// One controller per client folder. The lock belongs to the OS and dies with
// the process, so a stopped controller never leaves one behind.
class ControllerLock {
 public:
  enum class Outcome {
    taken,        // ours until this object goes
    held,         // another controller works on this folder
    unavailable,  // the folder cannot be opened (missing, say); nothing is held
  };
  ControllerLock() = default;
  ~ControllerLock();
  ControllerLock(const ControllerLock&) = delete;
  ControllerLock& operator=(const ControllerLock&) = delete;
  // `path` as in the settings ("" is the current folder). One controller
  // per user session as well: see session_lock.h.
  Outcome take(const char* path);

 private:
  long long handle_ = -1;
};

// True when a controller holds the lock of client folder `path` ("" is the
// current folder). Only looks: the lock is left as it was found.
bool controller_at_work(const char* path);

// This process's id, as the controller's status file names it.
int current_process_id();

// Reads a text file as the controller has always read its files, the same on
// every platform: carriage returns are dropped, a Ctrl-Z byte ends the data,
// and lines come in pieces the way fgets gives them.
class TextReader {
 public:
  TextReader() = default;
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  // False when the file cannot be opened (or its name is too long).
  bool open(const char* path);
  // Reads `size` bytes at `data` instead of a file, with the same rules. The
  // bytes must outlive the reader.
  void open_memory(const char* data, std::size_t size);
  // Copies up to size - 1 bytes into `buf`, stopping after the first '\n'
  // (kept), and NUL-terminates. Returns the number of bytes copied, which is
  // more than strlen(buf) when the piece holds a NUL byte; 0, with `buf`
  // untouched, when the data has ended before any byte was copied. `size`
  // must be at least 2.
  std::size_t read_line(char* buf, int size);
  void close();

 private:
  bool refill();
  int handle_ = -1;
  const char* next_ = nullptr;
  const char* end_ = nullptr;
  bool ended_ = false;
  bool plain_ = false;  // next_ to end_ holds neither a carriage return nor a Ctrl-Z
  // The files are small; one block usually holds the whole file.
  char block_[4096];
};

}  // namespace vorcnt
