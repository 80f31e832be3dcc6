// vorstat: prints what the client folder and its unit folders hold.
#include <cstdio>
#include <string>

#include "platform/os.h"
#include "vorstat_report.h"

int main(int argc, char** argv) {
  // The controller's own console, so the terminal rule for its code page 932
  // text is the same here, and its wall clock.
  auto console = vorcnt::make_real_console();
  const std::int64_t now = vorcnt::make_real_clock(*console)->now_utc();
  std::string errors;
  const int status = vorcnt::vorstat::run_vorstat(argc, argv, *console, errors, now);
  console->flush();
  std::fputs(errors.c_str(), stderr);
  return status;
}
