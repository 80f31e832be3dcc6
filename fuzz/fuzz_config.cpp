// Feeds each input to the vorcnt.cfg reader as the file's contents, from
// memory, and checks what every later user of the settings relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/settings.h"
#include "ground/context.h"
#include "platform/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vorcnt::ControllerContext ctx;
  vorcnt::TextReader reader;
  reader.open_memory(reinterpret_cast<const char*>(data), size);
  vorcnt::SettingsNotes notes;
  vorcnt::read_config_lines(ctx, reader, notes);

  if (ctx.time < 120 || ctx.time > 36000) std::abort();
  if (ctx.units < 0 || ctx.units > 16) std::abort();
  if (ctx.fill < 0 || ctx.fill > 2) std::abort();
  if (strnlen(ctx.path, sizeof ctx.path) > static_cast<size_t>(vorcnt::kMaxUsablePath)) std::abort();
  if (strnlen(ctx.execfinish, sizeof ctx.execfinish) == sizeof ctx.execfinish) std::abort();
  return 0;
}
