// What a disk would still hold after a power cut: the bytes of each file as
// its last sync left them, and the names of each folder as its last sync left
// them. Everything written or renamed since is dropped by a cut.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vorcnt::testing {

// Thrown at the step a cut falls on.
struct PowerCut {};

class SyncedMemory {
 public:
  SyncedMemory() = default;
  ~SyncedMemory();
  SyncedMemory(const SyncedMemory&) = delete;
  SyncedMemory& operator=(const SyncedMemory&) = delete;

  // Every file of these folders, and every name in them, as they are now.
  void all_synced(const std::vector<std::string>& folders);
  void file_synced(const std::string& path);
  void folder_synced(const std::string& folder);
  // The cut: each folder seen synced gets back the names it had then, each
  // with the bytes its file had at its last sync (none when never synced);
  // its other files go. Folders inside it are left alone.
  void drop_unsynced();
  // One step of the work under test; throws PowerCut at step `cut_at`
  // (counting from 1; 0 never cuts).
  void step();
  int steps = 0;
  int cut_at = 0;

 private:
  void pin(const std::string& path, ino_t file);
  std::map<ino_t, std::string> bytes_;
  std::map<std::string, std::map<std::string, ino_t>> names_;
  // Each file seen is held open, so that its number is never handed to a
  // new file while the memory lasts.
  std::map<ino_t, int> held_;
};

// While one lives, each fsync() that the code under test makes is told to
// `seen` (the synced file's or folder's path, and which it is) before it is
// made: the test program's own fsync() comes before the C library's. So a
// double learns of the syncs a call really makes, not of those it should.
class FsyncWatch {
 public:
  explicit FsyncWatch(std::function<void(const std::string& path, bool folder)> seen);
  ~FsyncWatch();
  FsyncWatch(const FsyncWatch&) = delete;
  FsyncWatch& operator=(const FsyncWatch&) = delete;

 private:
  std::function<void(const std::string&, bool)> seen_;
};

}  // namespace vorcnt::testing
