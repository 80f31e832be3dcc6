#include "support/scratch.h"

#include <sys/time.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace vorcnt::testing {

ScratchDir::ScratchDir(const char* base) {
  static std::mt19937_64 rng{std::random_device{}()};
  const fs::path parent = base != nullptr ? fs::path(base) : fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = parent / ("vorcnt-test-" + std::to_string(rng() % 1000000000ULL));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate.string() + "/";
      return;
    }
  }
  throw std::runtime_error("cannot create a scratch folder");
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void ScratchDir::write(const std::string& relative, const std::string& contents) const {
  fs::path p = fs::path(path_) / relative;
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << contents;
}

std::string ScratchDir::read(const std::string& relative) const {
  std::ifstream in(fs::path(path_) / relative, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool ScratchDir::exists(const std::string& relative) const { return fs::exists(fs::path(path_) / relative); }

void ScratchDir::mkdir(const std::string& relative) const { fs::create_directories(fs::path(path_) / relative); }

void ScratchDir::set_mtime(const std::string& relative, long long seconds) const {
  // utimes keeps this independent of the file clock's epoch.
  struct timeval times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_usec = 0;
  times[1] = times[0];
  if (::utimes((fs::path(path_) / relative).c_str(), times) != 0) throw std::runtime_error("utimes failed");
}

std::map<std::string, std::string> ScratchDir::tree(bool with_times) const {
  const auto time_of = [&](const fs::path& p) {
    return with_times ? std::to_string(fs::last_write_time(p).time_since_epoch().count()) + " " : std::string();
  };
  std::map<std::string, std::string> entries;
  if (with_times) entries["."] = time_of(path_);
  for (const auto& e : fs::recursive_directory_iterator(path_)) {
    const std::string name = fs::relative(e.path(), path_).string();
    entries[name] = time_of(e.path()) + (e.is_directory() ? "<folder>" : read(name));
  }
  return entries;
}

}  // namespace vorcnt::testing
