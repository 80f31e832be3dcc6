// Small portable helpers shared by the simulated client, closer and server:
// whole-file reads and writes, the digest, key=value texts, settings from the
// environment, and the clock they poll by.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vorcnt::sim {

// Joins a folder and a name with '/' unless the folder already ends in a
// separator (or is empty).
std::string join(const std::string& folder, const std::string& name);

bool file_exists(const std::string& path);
bool read_file(const std::string& path, std::string& out);
// Creates or truncates `path` and writes `data`; false on any failure.
bool write_file(const std::string& path, const std::string& data);
// Appends `data` to `path`, creating it when missing.
bool append_file(const std::string& path, const std::string& data);
// Writes a side file and renames it over `path`, so a reader sees the old or
// the new contents, never a mix.
bool write_file_atomic(const std::string& path, const std::string& data);
// As write_file_atomic, but only while `path` does not exist: false, and
// `path` untouched, when another writer got there first.
bool write_file_new(const std::string& path, const std::string& data);
// Removes a file; true when it is gone afterwards.
bool remove_file(const std::string& path);
bool make_folders(const std::string& path);
// Names of the plain files in `folder`, sorted, hidden names (".x") left out.
std::vector<std::string> list_files(const std::string& folder);

// FNV-1a, 64 bits: the digest a result carries of its work unit's data.
std::uint64_t fnv1a64(const std::string& data);
// Sixteen lower-case hex digits.
std::string hex64(std::uint64_t value);

// key=value lines; a later line wins; lines without '=' are skipped; a
// carriage return before the line end is dropped.
using KeyValues = std::map<std::string, std::string>;
KeyValues parse_key_values(const std::string& text);
std::string value_of(const KeyValues& values, const std::string& key);

// Pauses `milliseconds` (none when not positive).
void sleep_ms(long long milliseconds);
// Milliseconds from an arbitrary fixed point, never going back.
long long monotonic_ms();

// Environment settings. A missing, empty or malformed value gives `fallback`.
std::string env_text(const char* name, const std::string& fallback);
// A non-negative decimal number of seconds.
double env_seconds(const char* name, double fallback);

}  // namespace vorcnt::sim
