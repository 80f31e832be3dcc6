// libFuzzer entry point: the input is read as a client's user-info file,
// from memory; every text must stay terminated inside its field.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "clientdata/snapshot.h"
#include "platform/files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vorcnt::TextReader reader;
  reader.open_memory(reinterpret_cast<const char*>(data), size);
  vorcnt::ClientSnapshot s;
  s.ext_index = 1;
  if (vorcnt::read_user_info_lines(s, reader) > 1) std::abort();
  for (const char* text : {s.id, s.key, s.email_addr, s.name, s.url, s.country, s.postal_code, s.venue,
                           s.register_time, s.last_wu_time, s.last_result_time})
    if (std::memchr(text, '\0', 255) == nullptr) std::abort();
  for (const char* text : {s.show_name, s.show_email})
    if (std::memchr(text, '\0', 32) == nullptr) std::abort();
  return 0;
}
