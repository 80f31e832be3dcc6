// Folder listings, file comparison and the few file moves the engine makes
// itself. std::filesystem does the same on every platform, so this one file
// serves both backends; names pass through fs_path and fs_name.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/files.h"

namespace fs = std::filesystem;

namespace vorcnt {

namespace {

fs::path folder_of(const std::string& folder) {
  if (folder.empty()) return fs::path(".");
  return fs_path(native_path(folder.c_str()));
}

// What the standard library reports, as the system's own number where it
// gives one; on POSIX that is an errno value, elsewhere the nearest one.
Status from(const std::error_code& ec, const std::string& subject) {
  if (!ec) return Status();
  const std::error_condition c = ec.default_error_condition();
  return Status::failed(c.category() == std::generic_category() ? c.value() : EIO, subject);
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

std::string folder_native(const std::string& folder) { return fs_name(folder_of(folder)); }

std::string path_in(const std::string& folder, const std::string& name) {
  return fs_name(folder_of(folder) / fs_path(name));
}

FolderListing list_folder(const std::string& folder) {
  FolderListing listing;
  std::error_code ec;
  fs::directory_iterator it(folder_of(folder), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code type_ec;
    const bool regular = it->is_regular_file(type_ec) && !type_ec;
    listing.entries.push_back({fs_name(it->path().filename()), regular});
  }
  listing.status = from(ec, folder.empty() ? std::string(".") : folder);
  return listing;
}

bool exists_but_not_folder(const std::string& folder) {
  const fs::path source = folder_of(folder);
  const fs::path named = source.has_filename() ? source : source.parent_path();  // "unit0/" names no file
  std::error_code ec;
  return fs::exists(named, ec) && !fs::is_directory(named, ec) && !ec;
}

bool file_size_of(const std::string& path, std::uintmax_t* size) {
  std::error_code ec;
  const std::uintmax_t n = fs::file_size(fs_path(path), ec);
  if (ec) return false;
  *size = n;
  return true;
}

bool is_regular_file(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(fs_path(path), ec) && !ec;
}

Presence presence(const std::string& path) {
  std::error_code ec;
  const bool there = fs::exists(fs_path(path), ec);
  if (ec) return Presence::unknown;
  return there ? Presence::present : Presence::absent;
}

Status remove_file(const std::string& path, bool* removed) {
  std::error_code ec;
  const bool gone = fs::remove(fs_path(path), ec);
  if (removed != nullptr) *removed = gone && !ec;
  return from(ec, path);
}

Status copy_new_file(const std::string& from_path, const std::string& to) {
  std::error_code ec;
  fs::copy_file(fs_path(from_path), fs_path(to), ec);
  return from(ec, to);
}

Status rename_file(const std::string& from_path, const std::string& to) {
  std::error_code ec;
  fs::rename(fs_path(from_path), fs_path(to), ec);
  return from(ec, from_path);
}

Status create_folders(const std::string& path) {
  std::error_code ec;
  fs::create_directories(fs_path(path), ec);
  return from(ec, path);
}

Status sync_files(const std::string& folder, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    const Status s = sync_one_file(path_in(folder, name));
    if (!s.ok()) return Status::failed(s.error(), name);
  }
  // The copies' names live in the folder: without this a cut could leave
  // the data on the disk and no name pointing at it.
  return sync_one_folder(folder);
}

bool same_contents(const std::string& a, const std::string& b) {
  File fa(open_file(a.c_str(), "rb"));
  File fb(open_file(b.c_str(), "rb"));
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

}  // namespace vorcnt
