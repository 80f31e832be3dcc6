#include "sim_files.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "platform/files.h"
#include "platform/path_text.h"
#include "sim_os.h"

namespace vorcnt::sim {

namespace fs = std::filesystem;

std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty() || ends_in_separator(folder)) return folder + name;
  return folder + "/" + name;
}

bool file_exists(const std::string& path) { return presence(path) == Presence::present; }

bool read_file(const std::string& path, std::string& out) {
  std::ifstream in(fs_path(path), std::ios::binary);
  if (!in) return false;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  out.swap(data);
  return true;
}

static bool write_mode(const std::string& path, const std::string& data, std::ios::openmode mode) {
  std::ofstream out(fs_path(path), std::ios::binary | mode);
  if (!out) return false;
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  return !out.fail();
}

bool write_file(const std::string& path, const std::string& data) {
  return write_mode(path, data, std::ios::trunc);
}

bool append_file(const std::string& path, const std::string& data) {
  return write_mode(path, data, std::ios::app);
}

namespace {

// Writes a side file and puts it in place with `place`. ".new" keeps the
// side file out of the "*.vwu" moves of the controller; the counter keeps two
// threads of one process apart.
bool write_whole(const std::string& path, const std::string& data,
                 bool (*place)(const std::string& from, const std::string& to)) {
  static std::atomic<unsigned> serial{0};
  std::string side = path + "." + std::to_string(current_pid()) + "-" + std::to_string(serial++) + ".new";
  if (write_file(side, data) && place(side, path)) return true;
  remove_file(side);
  return false;
}

}  // namespace

bool write_file_atomic(const std::string& path, const std::string& data) {
  return write_whole(path, data, replace_file);
}

bool write_file_new(const std::string& path, const std::string& data) { return write_whole(path, data, move_new); }

bool remove_file(const std::string& path) {
  std::error_code ec;
  fs::remove(fs_path(path), ec);
  return !file_exists(path);
}

bool make_folders(const std::string& path) {
  std::error_code ec;
  fs::create_directories(fs_path(path), ec);
  return fs::is_directory(fs_path(path), ec);
}

std::vector<std::string> list_files(const std::string& folder) {
  std::vector<std::string> names;
  for (const FolderEntry& entry : list_folder(folder).entries)
    if (entry.regular && !entry.name.empty() && entry.name[0] != '.') names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  return names;
}

std::uint64_t fnv1a64(const std::string& data) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (unsigned char c : data) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::string hex64(std::uint64_t value) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(value));
  return buf;
}

KeyValues parse_key_values(const std::string& text) {
  KeyValues values;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t eq = line.find('=');
    if (eq != std::string::npos && eq > 0) values[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return values;
}

std::string value_of(const KeyValues& values, const std::string& key) {
  auto it = values.find(key);
  return it == values.end() ? std::string() : it->second;
}

void sleep_ms(long long milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

long long monotonic_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string env_text(const char* name, const std::string& fallback) {
  const char* text = std::getenv(name);
  return (text != nullptr && *text != '\0') ? std::string(text) : fallback;
}

double env_seconds(const char* name, double fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(value) || value < 0.0) return fallback;
  return value;
}

}  // namespace vorcnt::sim
