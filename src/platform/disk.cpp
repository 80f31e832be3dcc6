// The real Disk: each call goes to the platform's own backend.
#include "platform/disk.h"

#include <cstring>

#include "platform/files.h"
#include "platform/journal_file.h"

namespace vorcnt {

std::string Status::reason() const {
  if (ok()) return std::string();
  if (!reason_.empty()) return reason_;
  if (error_ < 0) return "unknown error";
  return error_text(error_);
}

namespace {

class RealDisk final : public Disk {
 public:
  Status write_file(const std::string& path, std::string_view bytes) override {
    return write_whole_file(path, bytes);
  }
  Status sync_file(const std::string& path) override { return sync_one_file(path); }
  Status sync_folder(const std::string& folder) override { return sync_one_folder(folder); }
  Status rename(const std::string& from, const std::string& to) override { return rename_file(from, to); }
  Status remove(const std::string& path) override { return remove_file(path); }
  Status copy_new(const std::string& from, const std::string& to) override { return copy_new_file(from, to); }
  Status make_folders(const std::string& folder) override { return create_folders(folder); }
  Status write_new_file(const std::string& path, std::string_view bytes) override {
    return write_whole_new_file(path, bytes);
  }
  bool is_link(const std::string& path) override { return is_symbolic_link(path); }
  Status append_line(const char* path, std::string_view header, std::string_view line) override {
    return append_journal_line(path, header, line);
  }
};

}  // namespace

Disk& real_disk() {
  static RealDisk disk;
  return disk;
}

}  // namespace vorcnt
