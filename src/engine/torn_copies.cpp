#include "engine/torn_copies.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/copy_check.h"
#include "engine/engine.h"
#include "engine/interrupted_move.h"
#include "ground/messages.h"
#include "platform/console.h"
#include "platform/files.h"

namespace vorcnt::engine_detail {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool may_be_empty(const std::string& name) {
  const std::string l = lower(name);
  return l == "outfile.vwu" || l == "wtemp.vwu";
}

// Files every unit carries alike; sharing them says nothing about which
// unit a folder's work belongs to.
bool is_common_file(const std::string& name) {
  const std::string l = lower(name);
  return l == "version.vwu" || l == "user_info.vwu";
}

struct Place {
  std::string label;  // "client" or "unitN", also its name under damaged
  std::string folder;  // as in the command lines
  std::vector<std::string> names;  // "*.vwu", sorted
  std::vector<std::string> torn;   // those torn on their own
  bool has(const std::string& name) const { return std::binary_search(names.begin(), names.end(), name); }
  bool is_torn(const std::string& name) const { return std::find(torn.begin(), torn.end(), name) != torn.end(); }
  bool intact(const std::string& name) const { return has(name) && !is_torn(name); }
};

Place read_place(std::string label, std::string folder) {
  Place p{std::move(label), folder, vwu_files(folder), {}};
  for (const std::string& name : p.names)
    if (engine_detail::is_torn(p.folder, name)) p.torn.push_back(name);
  return p;
}

// True when `unit` shares with the client a file that names the work (not a
// common one) with the same, untorn, non-empty bytes: the two are the ends of
// one move.
bool same_work(const Place& client, const Place& unit) {
  for (const std::string& name : client.names) {
    if (is_common_file(name) || !client.intact(name) || !unit.intact(name)) continue;
    std::uintmax_t size = 0;
    if (!file_size_of(path_in(client.folder, name), &size) || size == 0) continue;
    if (same_contents(path_in(client.folder, name), path_in(unit.folder, name))) return true;
  }
  return false;
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

// Removes the torn copies of `torn_place` whose intact twin is in `whole`.
void remove_torn_twins(Os& os, Place& torn_place, const Place& whole) {
  std::vector<std::string> removed;
  for (const std::string& name : torn_place.torn) {
    if (!whole.intact(name) || !torn_copy_of(path_in(torn_place.folder, name), path_in(whole.folder, name)))
      continue;
    bool gone = false;
    remove_file(path_in(torn_place.folder, name), &gone);
    if (gone) removed.push_back(name);
  }
  if (removed.empty()) return;
  for (const std::string& name : removed)
    torn_place.torn.erase(std::find(torn_place.torn.begin(), torn_place.torn.end(), name));
  sync_folder(torn_place.folder);
  print(os, msg::kTornCopiesRemovedTheIntactOnes, torn_place.label.c_str(),
        joined(removed).c_str(), whole.label.c_str());
}

// A free name under `damaged` for a file of `label`: "<label>\<name>", or
// "<label>-2\<name>" and upward when an earlier cut left one there.
// Past a thousand earlier cuts, or when the folder cannot be looked at, the
// last name is taken; a move onto an existing file then fails and says so.
std::string damaged_slot(const std::string& damaged, const std::string& label,
                         const std::vector<std::string>& names) {
  constexpr int kMostSlots = 1000;
  std::string slot;
  for (int n = 1; n <= kMostSlots; ++n) {
    slot = n == 1 ? label : label + "-" + std::to_string(n);
    const std::string dir = path_in(damaged, slot);
    bool free = true;
    for (const std::string& name : names)
      if (presence(path_in(dir, name)) != Presence::absent) free = false;
    if (free) break;
  }
  return slot;
}

void set_aside(Os& os, const Place& place, const std::string& damaged) {
  if (place.torn.empty()) return;
  const std::string slot = damaged_slot(damaged, place.label, place.torn);
  const std::string dir = path_in(damaged, slot);
  create_folders(dir);
  std::vector<std::string> moved;
  for (const std::string& name : place.torn) {
    if (presence(path_in(dir, name)) == Presence::present) continue;  // never over an earlier one
    if (rename_file(path_in(place.folder, name), path_in(dir, name))) moved.push_back(name);
  }
  const std::string shown = "damaged\\" + slot;
  if (!moved.empty()) {
    std::string failed;
    sync_files(dir, moved, &failed);
    sync_folder(damaged);
    sync_folder(place.folder);
    print(os, msg::kTornFilesWithNoIntactCopy, place.label.c_str(), shown.c_str(),
          joined(moved).c_str());
  }
  if (moved.size() < place.torn.size())
    print(os, msg::kTornFilesCouldNotBeSet,
          place.label.c_str(), shown.c_str());
}

}  // namespace

bool is_torn(const std::string& folder, const std::string& name) {
  File f(std::fopen(path_in(folder, name).c_str(), "rb"));
  if (!f) return false;
  char buf[8192];
  std::size_t total = 0;
  for (;;) {
    const std::size_t n = std::fread(buf, 1, sizeof buf, f.get());
    if (std::memchr(buf, '\0', n) != nullptr) return true;
    total += n;
    if (n < sizeof buf) break;
  }
  if (std::ferror(f.get()) != 0) return false;
  return total == 0 && !may_be_empty(name);
}

bool torn_copy_of(const std::string& torn, const std::string& whole) {
  File a(std::fopen(torn.c_str(), "rb"));
  File b(std::fopen(whole.c_str(), "rb"));
  if (!a || !b) return false;
  char buf_a[8192];
  char buf_b[8192];
  for (;;) {
    const std::size_t na = std::fread(buf_a, 1, sizeof buf_a, a.get());
    const std::size_t nb = std::fread(buf_b, 1, sizeof buf_b, b.get());
    if (na > nb) return false;
    for (std::size_t i = 0; i < na; ++i)
      if (buf_a[i] != '\0' && buf_a[i] != buf_b[i]) return false;
    if (na < sizeof buf_a) return std::ferror(a.get()) == 0 && std::ferror(b.get()) == 0;
  }
}

bool mend_torn_copies(Os& os, const ControllerContext& ctx) {
  if (ctx.mode != Mode_calc && ctx.mode != Mode_fill) return false;
  Place client = read_place("client", ctx.path);
  std::vector<Place> units;
  for (int k = 0; k < std::min<int>(ctx.units_local, kMaxUnits); ++k) {
    const std::string folder = unit_folder(ctx.path, k);
    if (is_directory(folder.c_str())) units.push_back(read_place("unit" + std::to_string(k), folder));
  }
  bool any = !client.torn.empty();
  for (const Place& u : units) any = any || !u.torn.empty();
  if (!any) return false;

  // Every move has the client folder at one end, so a torn file of a unit
  // folder can only be a copy of the client folder's file.
  for (Place& u : units) remove_torn_twins(os, u, client);
  // A torn file of the client folder is a copy from the unit it shares its
  // work with; files all units carry alike do not single one out.
  for (const Place& u : units)
    if (!client.torn.empty() && same_work(client, u)) remove_torn_twins(os, client, u);

  const std::string damaged = path_in(ctx.path, "damaged");
  set_aside(os, client, damaged);
  for (const Place& u : units) set_aside(os, u, damaged);
  return true;
}

}  // namespace vorcnt::engine_detail
