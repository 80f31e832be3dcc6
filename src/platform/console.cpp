#include "platform/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace vorcnt {

void print(Os& os, const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    va_end(again);
    os.console.write(std::string_view(small, static_cast<std::size_t>(n)));
    return;
  }
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(big.data(), big.size(), format, again);
  va_end(again);
  big.resize(static_cast<std::size_t>(n));
  os.console.write(big);
}

int run_command(Os& os, const std::string& command_line) {
  os.console.flush();
  return os.shell.run(command_line);
}

}  // namespace vorcnt
