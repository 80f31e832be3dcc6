#include "support/synced_memory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace vorcnt::testing {

namespace {

// One key per folder, however the engine spells it.
std::string folder_key(const std::string& folder) {
  std::string native = folder.empty() ? std::string(".") : folder;
  for (char& c : native)
    if (c == '\\') c = '/';
  char real[PATH_MAX];
  return ::realpath(native.c_str(), real) != nullptr ? std::string(real) : native;
}

std::string read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace

SyncedMemory::~SyncedMemory() {
  for (const auto& [file, fd] : held_) ::close(fd);
}

void SyncedMemory::pin(const std::string& path, ino_t file) {
  if (held_.count(file) == 0) held_[file] = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

void SyncedMemory::all_synced(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    folder_synced(folder);
    for (const auto& entry : fs::directory_iterator(folder_key(folder)))
      if (entry.is_regular_file()) file_synced(entry.path().string());
  }
}

void SyncedMemory::file_synced(const std::string& path) {
  std::string native = path;
  for (char& c : native)
    if (c == '\\') c = '/';
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return;
  pin(native, st.st_ino);
  bytes_[st.st_ino] = read_all(native);
}

void SyncedMemory::folder_synced(const std::string& folder) {
  const std::string key = folder_key(folder);
  auto& names = names_[key];
  names.clear();
  for (const auto& entry : fs::directory_iterator(key)) {
    struct stat st;
    if (!entry.is_regular_file() || ::stat(entry.path().c_str(), &st) != 0) continue;
    pin(entry.path().string(), st.st_ino);
    names[entry.path().filename().string()] = st.st_ino;
  }
}

void SyncedMemory::drop_unsynced() {
  for (const auto& [folder, names] : names_) {
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.is_regular_file() || entry.is_symlink()) fs::remove(entry.path());
    for (const auto& [name, file] : names) {
      std::ofstream out(fs::path(folder) / name, std::ios::binary);
      const auto synced = bytes_.find(file);
      if (synced != bytes_.end()) out << synced->second;
    }
  }
}

void SyncedMemory::step() {
  if (++steps == cut_at) throw PowerCut{};
}

namespace {
std::function<void(const std::string&, bool)>* g_fsync_seen = nullptr;
}

FsyncWatch::FsyncWatch(std::function<void(const std::string&, bool)> seen) : seen_(std::move(seen)) {
  g_fsync_seen = &seen_;
}

FsyncWatch::~FsyncWatch() { g_fsync_seen = nullptr; }

}  // namespace vorcnt::testing

extern "C" int fsync(int fd) {
  using vorcnt::testing::g_fsync_seen;
  struct stat st;
  char path[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
  if (g_fsync_seen != nullptr && n > 0 && ::fstat(fd, &st) == 0)
    (*g_fsync_seen)(std::string(path, static_cast<std::size_t>(n)), S_ISDIR(st.st_mode));
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace vorcnt::testing {

}  // namespace vorcnt::testing
