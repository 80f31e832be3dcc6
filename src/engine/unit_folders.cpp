// The unit folders beside the client: names, count and contents.
#include "engine/unit_folders.h"

#include <algorithm>

#include "clientdata/report.h"
#include "platform/files.h"
#include "platform/language.h"

namespace vorcnt {

bool is_unit_index(int unit) { return unit >= 0 && unit < kMaxUnits; }

int count_unit_folders(const char* path) {
  int found = 0;
  while (found < kMaxUnits && is_directory(unit_folder(path, found).c_str())) ++found;
  return found;
}

bool unit_name_not_folder(const char* path, int unit) {
  const std::string name = unit_folder(path, unit);
  return name_taken(name.c_str()) && !is_directory(name.c_str());
}

namespace {

// The unit number a client folder entry may stand for: "unit<N>" with N
// below kMaxUnits and no leading zero, the letters in any case (a Windows
// name matches so); -1 for any other name.
int unit_number_of(const std::string& name) {
  if (name.size() < 5 || name.size() > 6) return -1;
  for (int i = 0; i < 4; ++i)
    if ((name[i] | 0x20) != "unit"[i]) return -1;
  if (name[4] < '0' || name[4] > '9' || (name[4] == '0' && name.size() == 6)) return -1;
  int n = name[4] - '0';
  if (name.size() == 6) {
    if (name[5] < '0' || name[5] > '9') return -1;
    n = n * 10 + (name[5] - '0');
  }
  return n < kMaxUnits ? n : -1;
}

}  // namespace

std::string same_folder_as(const char* path, int unit, int below) {
  FileIdentity mine;
  // Only a folder can be a unit folder under a second name.
  if (!folder_identity(unit_folder(path, unit), &mine)) return std::string();
  FileIdentity other;
  if (file_identity(path, &other) && other == mine) return tr(N_("the client folder"));
  // Only a name the client folder holds can be another unit folder: one
  // listing spares a look at each of the sixteen names. A folder that cannot
  // be listed has every name looked at.
  bool named[kMaxUnits];
  const FolderListing listing = list_folder(path);
  std::fill(std::begin(named), std::end(named), !listing.status.ok());
  for (const FolderEntry& entry : listing.entries)
    if (const int j = unit_number_of(entry.name); j >= 0) named[j] = true;
  // Every name, past a gap too: a record, a fill or a later start may use it.
  for (int j = 0; j < below; ++j) {
    if (j == unit || !named[j] || !folder_identity(unit_folder(path, j), &other)) continue;
    if (other == mine) return "unit" + std::to_string(j);
  }
  return std::string();
}

std::int32_t classify_as_folder(const std::string& folder) { return classify_folder((folder + "\\").c_str()); }

// The interpreter matches "*.vwu" without regard to case on Windows; taking
// the wider match everywhere means no file it might delete goes unchecked.
bool is_vwu_name(const std::string& name) {
  static const char kExt[] = ".vwu";
  if (name.size() < 4) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    char c = name[name.size() - 4 + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kExt[i]) return false;
  }
  return true;
}

Status vwu_files(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  const FolderListing listing = list_folder(folder);
  for (const FolderEntry& entry : listing.entries)
    if (is_vwu_name(entry.name) && entry.regular) names->push_back(entry.name);
  std::sort(names->begin(), names->end());
  return listing.status;
}

}  // namespace vorcnt
