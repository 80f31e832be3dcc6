// Feeds each input as vorcnt.cfg and reads it. The file is read from the
// current folder, so the target moves once into a private temp folder; give
// -artifact_prefix= an absolute folder, or crash inputs land in there too.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "config/settings.h"
#include "core/context.h"
#include "platform/os.h"

namespace {

class NullShell final : public vorcnt::Shell {
 public:
  int run(const std::string&) override { return 0; }
};
class NullClock final : public vorcnt::Clock {
 public:
  void sleep_seconds(int) override {}
};
class NullConsole final : public vorcnt::Console {
 public:
  void write(std::string_view) override {}
  void flush() override {}
};

std::filesystem::path& private_folder() {
  static std::filesystem::path folder;
  return folder;
}

void remove_private_folder() {
  std::error_code ec;
  std::filesystem::current_path(std::filesystem::temp_directory_path(ec), ec);
  std::filesystem::remove_all(private_folder(), ec);
}

bool enter_private_folder() {
  std::error_code ec;
  auto base = std::filesystem::temp_directory_path(ec);
  if (ec) return false;
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto folder = base / ("vorcnt-fuzz-config-" + std::to_string(std::rand()));
    if (std::filesystem::create_directory(folder, ec)) {
      private_folder() = folder;
      std::atexit(remove_private_folder);
      std::filesystem::current_path(folder, ec);
      return !ec;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = enter_private_folder();
  if (!ready) std::abort();

  std::FILE* f = std::fopen("vorcnt.cfg", "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);

  NullShell shell;
  NullClock clock;
  NullConsole console;
  vorcnt::Os os{shell, clock, console};
  vorcnt::ControllerContext ctx;
  vorcnt::read_config_file(os, ctx);

  // What every later user of the context relies on.
  if (ctx.time < 120 || ctx.time > 36000) std::abort();
  if (ctx.units < 0 || ctx.units > 16) std::abort();
  if (ctx.fill < 0 || ctx.fill > 2) std::abort();
  if (std::char_traits<char>::length(ctx.path) > static_cast<size_t>(vorcnt::kMaxUsablePath)) std::abort();
  return 0;
}
