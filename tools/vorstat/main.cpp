// vorstat: prints what the client folder and its unit folders hold.
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/os.h"
#include "vorstat_report.h"

int main(int argc, char** argv) {
  // The controller's own console, so the terminal rule for its code page 932
  // text is the same here.
  auto console = vorcnt::make_real_console();
  std::string errors;
  const int status =
      vorcnt::vorstat::run_vorstat(argc, argv, *console, errors, static_cast<std::int64_t>(std::time(nullptr)));
  console->flush();
  std::fputs(errors.c_str(), stderr);
  return status;
}
