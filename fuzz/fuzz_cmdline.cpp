// Splits each input into arguments at NUL bytes and applies them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/settings.h"
#include "ground/context.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Each argument gets its own exact-size allocation, so the sanitizer sees
  // any read or write past its end.
  std::vector<std::vector<char>> texts;
  texts.push_back({'v', 'o', 'r', 'c', 'n', 't', '\0'});
  std::vector<char> current;
  for (size_t i = 0; i < size; ++i) {
    current.push_back(static_cast<char>(data[i]));
    if (data[i] == 0) {
      texts.push_back(current);
      current.clear();
    }
  }
  if (!current.empty()) {
    current.push_back('\0');
    texts.push_back(current);
  }
  std::vector<char*> argv;
  for (auto& t : texts) argv.push_back(t.data());
  argv.push_back(nullptr);

  vorcnt::ControllerContext ctx;
  vorcnt::SettingsNotes notes;
  vorcnt::parse_command_line(static_cast<int>(texts.size()), argv.data(), ctx, notes);

  if (ctx.time < 120 || ctx.time > 36000) std::abort();
  if (ctx.units < 0 || ctx.units > 16) std::abort();
  if (ctx.fill < 0 || ctx.fill > 2) std::abort();
  if (std::char_traits<char>::length(ctx.path) > static_cast<size_t>(vorcnt::kMaxUsablePath)) std::abort();
  return 0;
}
