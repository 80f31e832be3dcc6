#include "engine/copy_check.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "engine/unit_folders.h"
#include "platform/files.h"

namespace fs = std::filesystem;

namespace vorcnt::engine_detail {

namespace {

std::string shown(const std::string& folder) { return folder.empty() ? std::string(".") : folder; }

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool same_contents(const fs::path& a, const fs::path& b) {
  File fa(std::fopen(a.string().c_str(), "rb"));
  File fb(std::fopen(b.string().c_str(), "rb"));
  if (!fa || !fb) return false;
  // Work units run to hundreds of kilobytes: large reads straight into our
  // buffers, without the stream's own buffer in between.
  std::setvbuf(fa.get(), nullptr, _IONBF, 0);
  std::setvbuf(fb.get(), nullptr, _IONBF, 0);
  constexpr std::size_t kChunk = std::size_t{1} << 16;
  const std::unique_ptr<char[]> buf(new char[2 * kChunk]);
  char* const buf_a = buf.get();
  char* const buf_b = buf.get() + kChunk;
  for (;;) {
    const std::size_t na = std::fread(buf_a, 1, kChunk, fa.get());
    const std::size_t nb = std::fread(buf_b, 1, kChunk, fb.get());
    if (na != nb || std::memcmp(buf_a, buf_b, na) != 0) return false;
    if (na < kChunk) return std::ferror(fa.get()) == 0 && std::ferror(fb.get()) == 0;
  }
}

CopyCheck check_copy(const std::string& from, const std::string& to, int copy_status) {
  CopyCheck result;
  const fs::path source = folder_path(from);
  const fs::path dest = folder_path(to);
  std::error_code ec;
  // A source that exists but is not a folder (a plain file named like a unit
  // folder) holds no files: the copy had nothing to move, and nothing can be
  // lost by the delete that follows it.
  const fs::path named = source.has_filename() ? source : source.parent_path();  // "unit0/" names no file
  if (fs::exists(named, ec) && !fs::is_directory(named, ec) && !ec) {
    result.ok = true;
    return result;
  }
  fs::directory_iterator it(source, ec);
  if (ec) {
    // Nothing can be said about what was to be copied, so nothing may be
    // deleted on the strength of it.
    result.reason = "cannot read the folder " + shown(from);
    return result;
  }
  bool any_source = false;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().filename().string();
    if (!is_vwu_name(name) || !entry.is_regular_file(ec)) continue;
    any_source = true;
    const std::uintmax_t size = entry.file_size(ec);
    if (ec) {
      result.reason = name + " did not arrive";
      return result;
    }
    const fs::path copy = dest / name;
    std::error_code copy_ec;
    if (!fs::is_regular_file(copy, copy_ec) || fs::file_size(copy, copy_ec) != size || copy_ec) {
      // Name the cause where it shows: a folder nothing can be written into,
      // or a source file that cannot be read.
      const std::string unwritable = write_problem(to.c_str());
      const std::string unreadable = read_problem(entry.path().string().c_str());
      if (!unwritable.empty())
        result.reason = shown(to) + " cannot be written (" + unwritable + ")";
      else if (!unreadable.empty())
        result.reason = name + " cannot be read (" + unreadable + ")";
      else
        result.reason = name + " did not arrive";
      return result;
    }
    if (!same_contents(entry.path(), copy)) {
      result.reason = name + " arrived with other bytes";
      return result;
    }
    result.files.push_back(name);
  }
  if (ec) {
    result.reason = "cannot read the folder " + shown(from);
    return result;
  }
  if (copy_status != 0 && any_source) {
    result.reason = "the copy failed (status " + std::to_string(copy_status) + ")";
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace vorcnt::engine_detail
