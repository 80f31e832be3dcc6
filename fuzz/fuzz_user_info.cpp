// libFuzzer entry point: the input becomes user_info.vwu in a client folder
// that holds version.vwu, and is read as on every poll.

#include <stdlib.h>  // mkdtemp

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "clientdata/snapshot.h"

namespace {

std::string make_client_folder() {
  std::string dir = (std::filesystem::temp_directory_path() / "vorcnt-fuzz-XXXXXX").string();
  if (::mkdtemp(dir.data()) == nullptr) std::abort();
  static std::string to_remove = dir;
  std::atexit([] { std::filesystem::remove_all(to_remove); });
  std::fclose(std::fopen((dir + "/version.vwu").c_str(), "wb"));
  return dir + "/";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string folder = make_client_folder();
  std::FILE* f = std::fopen((folder + "user_info.vwu").c_str(), "wb");
  if (f == nullptr || std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);

  vorcnt::ClientSnapshot s;
  s.ext_index = 1;
  if (vorcnt::read_user_info(s, folder.c_str()) > 1) std::abort();
  for (const char* text : {s.id, s.key, s.email_addr, s.name, s.url, s.country, s.postal_code, s.venue,
                           s.register_time, s.last_wu_time, s.last_result_time})
    if (std::memchr(text, '\0', 255) == nullptr) std::abort();
  for (const char* text : {s.show_name, s.show_email})
    if (std::memchr(text, '\0', 32) == nullptr) std::abort();
  return 0;
}
