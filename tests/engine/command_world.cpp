#include "engine/command_world.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace vorcnt::testing {

namespace {

fs::path native(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text.empty() ? fs::path(".") : fs::path(text);
}

bool glob(const char* pattern, const char* name) {
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*') return glob(pattern + 1, name) || (*name != '\0' && glob(pattern, name + 1));
  return *name != '\0' && (*pattern == '?' || *pattern == *name) && glob(pattern + 1, name + 1);
}

// Regular files matching the last component, in name order.
std::vector<fs::path> matches(const std::string& pattern_text) {
  const fs::path pattern = native(pattern_text);
  const fs::path folder = pattern.has_parent_path() ? pattern.parent_path() : fs::path(".");
  const std::string wanted = pattern.filename().string();
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.is_regular_file() && glob(wanted.c_str(), entry.path().filename().c_str())) found.push_back(entry.path());
  std::sort(found.begin(), found.end());
  return found;
}

std::string contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

int CommandWorld::operator()(const std::string& line) const {
  std::istringstream in(line);
  std::string verb, first, second;
  in >> verb >> first >> second;
  if (verb == "mkdir") {
    std::error_code ec;
    return fs::create_directory(native(first), ec) ? 0 : 1;
  }
  if (verb == "del") {
    const auto files = matches(first);
    if (fault == Fault::delete_fails) return 1;
    for (const auto& f : files) {
      fs::remove(f);
      if (fault == Fault::delete_first_only) return 1;
    }
    if (fault == Fault::delete_then_unlisted) {
      const fs::path folder = native(first).parent_path();
      fs::remove_all(folder);
      std::FILE* plain = std::fopen(folder.string().c_str(), "w");
      if (plain != nullptr) std::fclose(plain);
    }
    return files.empty() ? 1 : 0;
  }
  if (verb != "copy") return 0;

  const auto files = matches(first);
  if (files.empty() || fault == Fault::copy_fails) return 1;
  const fs::path dest = native(second);
  if (fault == Fault::destination_vanishes) fs::remove_all(dest);
  if (!fs::is_directory(dest)) {
    // What the interpreter does with several sources and no folder: it
    // joins them into one file of the destination's name.
    std::ofstream out(dest, std::ios::binary | std::ios::trunc);
    for (const auto& f : files) out << contents(f);
    return 0;
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (fault == Fault::copy_first_only && i > 0) break;
    const fs::path target = dest / files[i].filename();
    fs::copy_file(files[i], target, fs::copy_options::overwrite_existing);
    if (i + 1 < files.size()) continue;
    if (fault == Fault::copy_truncates) fs::resize_file(target, fs::file_size(target) / 2);
    if (fault == Fault::copy_zero_fills || fault == Fault::copy_flips_a_byte) {
      std::string bytes = contents(target);
      if (fault == Fault::copy_zero_fills) bytes.assign(bytes.size(), '\0');
      if (fault == Fault::copy_flips_a_byte && !bytes.empty()) bytes[0] = static_cast<char>(bytes[0] ^ 0x20);
      std::ofstream(target, std::ios::binary | std::ios::trunc) << bytes;
    }
  }
  return 0;
}

}  // namespace vorcnt::testing
