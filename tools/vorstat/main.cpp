// vorstat: prints what the client folder and its unit folders hold.
#include <string>

#include "platform/language.h"
#include "platform/os.h"
#include "report_text.h"
#include "vorstat_report.h"

int main(int argc, char** argv) {
  vorcnt::choose_language();
  // The controller's own console, so the terminal rule for its code page 932
  // text is the same here, and its wall clock. A reader that stops early
  // (`vorstat | head -3`) is no failure; a report that could not be written
  // whole is.
  bool output_failed = false;
  auto console = vorcnt::make_report_console("vorstat", &output_failed);
  const std::int64_t now = vorcnt::make_real_clock(*console)->now_utc();
  // What goes wrong is said after the report, through a console of its own
  // on standard error: Japanese text reads there as on standard output.
  vorcnt::vorstat::Pieces errors;
  const int status = vorcnt::vorstat::run_vorstat(argc, argv, *console, errors, now);
  console->flush();
  auto error_console = vorcnt::make_error_console();
  errors.write_to(*error_console);
  error_console->flush();
  return status == 0 && output_failed ? vorcnt::vorstat::kReportNotMade : status;
}
