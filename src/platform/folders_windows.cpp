// Folder listings and the file moves a move makes itself, through
// std::filesystem and its wide names; names pass through fs_path and fs_name.
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/ansi_path_windows.h"
#include "platform/files.h"
#include "platform/handle_windows.h"

namespace fs = std::filesystem;

namespace vorcnt {

namespace {

fs::path folder_of(const std::string& folder) {
  if (folder.empty()) return fs::path(".");
  return fs_path(native_path(folder.c_str()));
}

// What the standard library reports, as the system's own number where it
// gives one, else the nearest errno value.
Status from(const std::error_code& ec, const std::string& subject) {
  if (!ec) return Status();
  const std::error_condition c = ec.default_error_condition();
  return Status::failed(c.category() == std::generic_category() ? c.value() : EIO, subject);
}

}  // namespace

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

bool is_foreign_link(const std::string& path) { return foreign_link_at(wide_path(path)) != 0; }

Presence presence(const std::string& path) {
  std::error_code ec;
  const bool there = fs::exists(fs_path(path), ec);
  if (ec) return Presence::unknown;
  return there ? Presence::present : Presence::absent;
}

NameLook look_at_name(const std::string& path) {
  NameLook look;
  look.link = is_foreign_link(path);
  look.presence = presence(path);
  look.regular = !look.link && is_regular_file(path) && file_size_of(path, &look.size);
  return look;
}

Status remove_file(const std::string& path, bool* removed) {
  if (removed != nullptr) *removed = false;
  if (const int refused = foreign_link_at(wide_path(path)); refused != 0) return Status::failed(refused, path);
  std::error_code ec;
  const bool gone = fs::remove(fs_path(path), ec);
  if (removed != nullptr) *removed = gone && !ec;
  return from(ec, path);
}

Status copy_new_file(const std::string& from_path, const std::string& to) {
  // A dangling link at `to` would pass for a free name, and the copy land
  // where it points.
  if (const int refused = foreign_link_at(wide_path(to)); refused != 0) return Status::failed(refused, to);
  std::error_code ec;
  fs::copy_file(fs_path(from_path), fs_path(to), ec);
  return from(ec, to);
}

Status rename_file(const std::string& from_path, const std::string& to) {
  if (const int refused = foreign_link_at(wide_path(from_path)); refused != 0)
    return Status::failed(refused, from_path);
  if (const int refused = foreign_link_at(wide_path(to)); refused != 0) return Status::failed(refused, to);
  std::error_code ec;
  fs::rename(fs_path(from_path), fs_path(to), ec);
  return from(ec, from_path);
}

Status create_folders(const std::string& path) {
  std::error_code ec;
  fs::create_directories(fs_path(path), ec);
  if (ec) return from(ec, path);
  // The folder itself must be one: files moved into a junction would land
  // wherever it points.
  std::string named = path;
  while (named.size() > 1 && (named.back() == '\\' || named.back() == '/')) named.pop_back();
  if (const int refused = foreign_link_at(wide_path(named)); refused != 0) return Status::failed(refused, path);
  return Status();
}

}  // namespace vorcnt
