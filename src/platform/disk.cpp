// The real Disk: the platform's own writes and syncs, and the renames and
// removals of folders.cpp, which serve every platform alike.
#include "platform/disk.h"

#include <cstring>

#include "platform/files.h"

namespace vorcnt {

std::string Status::reason() const {
  if (ok()) return std::string();
  if (!reason_.empty()) return reason_;
  if (error_ < 0) return "unknown error";
  return std::strerror(error_);
}

namespace {

class RealDisk final : public Disk {
 public:
  Status write_file(const std::string& path, std::string_view bytes) override {
    return write_whole_file(path, bytes);
  }
  Status sync_file(const std::string& path) override { return sync_one_file(path); }
  Status sync_folder(const std::string& folder) override { return sync_one_folder(folder); }
  Status rename(const std::string& from_path, const std::string& to_path) override {
    return rename_file(from_path, to_path);
  }
  Status remove(const std::string& path) override { return remove_file(path); }
};

}  // namespace

Disk& real_disk() {
  static RealDisk disk;
  return disk;
}

}  // namespace vorcnt
