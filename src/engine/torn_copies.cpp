#include "engine/torn_copies.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "engine/copy_check.h"
#include "engine/engine.h"
#include "engine/interrupted_move.h"
#include "ground/messages.h"
#include "platform/console.h"
#include "platform/files.h"

namespace fs = std::filesystem;

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
  fs::path dir;
  std::vector<std::string> names;  // "*.vwu", sorted
  std::vector<std::string> torn;   // those torn on their own
  bool has(const std::string& name) const { return std::binary_search(names.begin(), names.end(), name); }
  bool is_torn(const std::string& name) const { return std::find(torn.begin(), torn.end(), name) != torn.end(); }
  bool intact(const std::string& name) const { return has(name) && !is_torn(name); }
};

Place read_place(std::string label, std::string folder) {
  Place p{std::move(label), folder, folder_path(folder), vwu_files(folder), {}};
  for (const std::string& name : p.names)
    if (engine_detail::is_torn(p.dir, name)) p.torn.push_back(name);
  return p;
}

// True when `unit` shares with the client a file that names the work (not a
// common one) with the same, untorn, non-empty bytes: the two are the ends of
// one move.
bool same_work(const Place& client, const Place& unit) {
  for (const std::string& name : client.names) {
    if (is_common_file(name) || !client.intact(name) || !unit.intact(name)) continue;
    std::error_code ec;
    if (fs::file_size(client.dir / name, ec) == 0 || ec) continue;
    if (same_contents(client.dir / name, unit.dir / name)) return true;
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
    if (!whole.intact(name) || !torn_copy_of(torn_place.dir / name, whole.dir / name)) continue;
    std::error_code ec;
    if (fs::remove(torn_place.dir / name, ec) && !ec) removed.push_back(name);
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
fs::path damaged_slot(const fs::path& damaged, const std::string& label, const std::vector<std::string>& names) {
  constexpr int kMostSlots = 1000;
  fs::path dir;
  for (int n = 1; n <= kMostSlots; ++n) {
    dir = damaged / (n == 1 ? label : label + "-" + std::to_string(n));
    bool free = true;
    for (const std::string& name : names) {
      std::error_code ec;
      if (fs::exists(dir / name, ec) || ec) free = false;
    }
    if (free) break;
  }
  return dir;
}

void set_aside(Os& os, const Place& place, const fs::path& damaged) {
  if (place.torn.empty()) return;
  const fs::path dir = damaged_slot(damaged, place.label, place.torn);
  std::error_code ec;
  fs::create_directories(dir, ec);
  std::vector<std::string> moved;
  for (const std::string& name : place.torn) {
    std::error_code move_ec;
    if (fs::exists(dir / name, move_ec)) continue;  // never over an earlier one
    fs::rename(place.dir / name, dir / name, move_ec);
    if (!move_ec) moved.push_back(name);
  }
  const std::string shown = "damaged\\" + dir.filename().string();
  if (!moved.empty()) {
    std::string failed;
    sync_files(dir.string(), moved, &failed);
    sync_folder(damaged.string());
    sync_folder(place.folder);
    print(os, msg::kTornFilesWithNoIntactCopy, place.label.c_str(), shown.c_str(),
          joined(moved).c_str());
  }
  if (moved.size() < place.torn.size())
    print(os, msg::kTornFilesCouldNotBeSet,
          place.label.c_str(), shown.c_str());
}

}  // namespace

bool is_torn(const fs::path& folder, const std::string& name) {
  File f(std::fopen((folder / name).string().c_str(), "rb"));
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

bool torn_copy_of(const fs::path& torn, const fs::path& whole) {
  File a(std::fopen(torn.string().c_str(), "rb"));
  File b(std::fopen(whole.string().c_str(), "rb"));
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

  const fs::path damaged = folder_path(ctx.path) / "damaged";
  set_aside(os, client, damaged);
  for (const Place& u : units) set_aside(os, u, damaged);
  return true;
}

}  // namespace vorcnt::engine_detail
