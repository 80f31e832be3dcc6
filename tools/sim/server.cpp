#include "server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "sim_files.h"
#include "sim_os.h"

namespace vorcnt::sim {

namespace {

constexpr const char* kUnitSuffix = ".wu";
constexpr const char* kResultSuffix = ".res";
// Unit folders the controller can make: unit0 to unit15.
constexpr int kMaxUnitFolders = 16;

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The number in a name such as "wu000042.wu", or -1.
long unit_number(const std::string& name) {
  if (name.compare(0, 2, "wu") != 0 || !ends_with(name, kUnitSuffix)) return -1;
  std::string digits = name.substr(2, name.size() - 2 - 3);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::strtol(digits.c_str(), nullptr, 10);
}

std::string unit_bytes(const std::string& id, std::size_t bytes, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::string data = "id=" + id + "\n";
  while (data.size() < bytes) {
    const std::uint64_t bits = gen();
    // Every eighth block a run of zeros, as sparse data has.
    if ((bits & 7) == 0) {
      data.append(64, '\0');
      continue;
    }
    for (int i = 0; i < 8; ++i) data += static_cast<char>((bits >> (8 * i)) & 0xff);
  }
  return data;
}

std::string unit_text(const std::string& id, std::size_t bytes, std::uint64_t seed) {
  // Printable data in short lines, so that no copy in text mode can change it.
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::mt19937_64 gen(seed);
  std::string text = "id=" + id + "\n";
  text.reserve(bytes + 80);
  while (text.size() < bytes) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 63; ++i) {
      if (i % 10 == 0) bits = gen();
      text += kAlphabet[bits & 63];
      bits >>= 6;
    }
    text += '\n';
  }
  return text;
}

}  // namespace

bool init_server(const ServerFolder& server, int count, std::size_t bytes, std::string& error, bool binary) {
  for (const std::string& folder : {server.queue(), server.issued(), server.results()}) {
    if (!make_folders(folder)) {
      error = "cannot create " + folder;
      return false;
    }
  }
  long next = 0;
  for (const std::string& folder : {server.queue(), server.issued()}) {
    for (const std::string& name : list_files(folder)) next = std::max(next, unit_number(name));
  }
  std::random_device entropy;
  for (int i = 0; i < count; ++i) {
    char id[32];
    std::snprintf(id, sizeof id, "wu%06ld", next + 1 + i);
    const std::uint64_t seed = (static_cast<std::uint64_t>(entropy()) << 32) ^ entropy() ^ next ^ i;
    std::string text = binary ? unit_bytes(id, bytes, seed) : unit_text(id, bytes, seed);
    // Hidden until complete, so a client never claims half a unit.
    std::string side = join(server.queue(), std::string(".") + id + ".tmp");
    if (!write_file(side, text) || !replace_file(side, join(server.queue(), std::string(id) + kUnitSuffix))) {
      remove_file(side);
      error = std::string("cannot write work unit ") + id;
      return false;
    }
  }
  return true;
}

bool refill_when_dry(const ServerFolder& server, double scale) {
  int count = 0;
  double seconds = 0;
  const std::string refill = env_text("VORSIM_REFILL", "");
  if (std::sscanf(refill.c_str(), "%d:%lf", &count, &seconds) != 2 || count <= 0 || seconds < 0) return false;
  const std::string mark = join(server.dir, "dry.at");
  const std::string done = join(server.dir, "refilled");
  const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count();
  std::string text;
  if (file_exists(done)) return false;
  if (!read_file(mark, text)) {
    write_file_new(mark, std::to_string(now));
    return false;
  }
  if (now < std::atoll(text.c_str()) + static_cast<long long>(seconds * scale * 1000.0)) return false;
  // Claimed by one client only: the others find the mark gone.
  if (!move_new(mark, done)) return false;
  std::string error;
  return init_server(server, count, 24 * 1024, error);
}

VerifyCounts verify_server(const ServerFolder& server) {
  VerifyCounts counts;
  for (const std::string& name : list_files(server.queue())) counts.queue += ends_with(name, kUnitSuffix);
  std::map<std::string, std::string> digests;  // issued id -> digest
  for (const std::string& name : list_files(server.issued())) {
    if (!ends_with(name, kUnitSuffix)) continue;
    ++counts.issued;
    std::string text;
    if (read_file(join(server.issued(), name), text)) digests[work_unit_id(text)] = work_unit_digest(text);
  }
  std::map<std::string, int> uploads;
  std::set<std::string> verified;
  for (const std::string& name : list_files(server.results())) {
    if (!ends_with(name, kResultSuffix)) continue;
    ++counts.results;
    std::string text;
    read_file(join(server.results(), name), text);
    ResultRecord result = parse_result(text);
    if (++uploads[result.id] > 1) ++counts.duplicates;
    auto it = digests.find(result.id);
    if (it != digests.end() && !result.id.empty() && it->second == result.digest) {
      verified.insert(result.id);
    } else {
      ++counts.mismatched;
    }
  }
  counts.verified = static_cast<int>(verified.size());
  return counts;
}

std::vector<std::string> lost_results(const ServerFolder& server, const std::string& client_folder,
                                      const std::string& client_log) {
  std::set<std::string> computed;
  std::string log;
  read_file(client_log, log);
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    if (line.compare(0, 7, "result ") == 0) computed.insert(line.substr(7, line.find(' ', 7) - 7));
    start = end + 1;
  }

  std::set<std::string> safe;
  for (const std::string& name : list_files(server.results())) {
    std::string text;
    if (ends_with(name, kResultSuffix) && read_file(join(server.results(), name), text)) {
      safe.insert(parse_result(text).id);
    }
  }
  auto keep_held = [&safe](const std::string& folder) {
    std::string text;
    if (read_file(join(folder, "result.vwu"), text)) safe.insert(parse_result(text).id);
  };
  keep_held(client_folder);
  for (int n = 0; n < kMaxUnitFolders; ++n) keep_held(join(client_folder, "unit" + std::to_string(n)));

  std::vector<std::string> lost;
  for (const std::string& id : computed) {
    if (safe.count(id) == 0) lost.push_back(id);
  }
  return lost;
}

}  // namespace vorcnt::sim
