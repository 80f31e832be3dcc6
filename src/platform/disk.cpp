// The real Disk: the platform's own writes and syncs, and the standard
// library's renames and removals, which serve every platform alike.
#include "platform/disk.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/files.h"

namespace vorcnt {

std::string Status::reason() const {
  if (ok()) return std::string();
  if (error_ < 0) return "unknown error";
  return std::strerror(error_);
}

namespace {

Status from(const std::error_code& ec, const std::string& subject) {
  if (!ec) return Status();
  // The standard library reports the system's own number; on POSIX that is
  // an errno value, elsewhere it is mapped to the nearest one.
  const std::error_condition c = ec.default_error_condition();
  return Status::failed(c.category() == std::generic_category() ? c.value() : EIO, subject);
}

class RealDisk final : public Disk {
 public:
  Status write_file(const std::string& path, std::string_view bytes) override {
    return write_whole_file(path, bytes);
  }
  Status sync_file(const std::string& path) override { return sync_one_file(path); }
  Status sync_folder(const std::string& folder) override { return sync_one_folder(folder); }
  Status rename(const std::string& from_path, const std::string& to_path) override {
    std::error_code ec;
    std::filesystem::rename(fs_path(from_path), fs_path(to_path), ec);
    return from(ec, from_path);
  }
  Status remove(const std::string& path) override {
    std::error_code ec;
    std::filesystem::remove(fs_path(path), ec);
    return from(ec, path);
  }
  Status copy_new(const std::string& from_path, const std::string& to_path) override {
    std::error_code ec;
    std::filesystem::copy_file(fs_path(from_path), fs_path(to_path), ec);
    return from(ec, to_path);
  }
  Status make_folders(const std::string& folder) override {
    std::error_code ec;
    std::filesystem::create_directories(fs_path(folder), ec);
    return from(ec, folder);
  }
};

}  // namespace

Disk& real_disk() {
  static RealDisk disk;
  return disk;
}

}  // namespace vorcnt
