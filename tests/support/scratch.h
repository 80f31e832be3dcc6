// Scratch folders for tests and benchmarks that touch the real file system.
#pragma once

#include <map>
#include <string>

namespace vorcnt::testing {

// A fresh empty folder under the system temp folder ($TMPDIR first), or under
// `base` when one is given, removed with its contents when the object goes
// away. path() ends in '/'. The tests and the benchmarks share it.
class ScratchDir {
 public:
  explicit ScratchDir(const char* base = nullptr);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes `contents` to path() + relative, creating parent folders.
  void write(const std::string& relative, const std::string& contents) const;
  std::string read(const std::string& relative) const;
  bool exists(const std::string& relative) const;
  void mkdir(const std::string& relative) const;
  // Sets the modification time of path() + relative (seconds since 1970).
  void set_mtime(const std::string& relative, long long seconds) const;
  // Every file below path() with its contents and every folder as "<folder>",
  // by relative name; `with_times` puts each one's modification time (and the
  // top folder's, as ".") in front, so that any write shows.
  std::map<std::string, std::string> tree(bool with_times = false) const;

 private:
  std::string path_;
};

}  // namespace vorcnt::testing
