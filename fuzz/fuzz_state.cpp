// libFuzzer entry point: the input is read as a client's state file, from
// memory, then classified as on every poll.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "clientdata/report.h"
#include "clientdata/snapshot.h"
#include "platform/files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vorcnt::TextReader reader;
  reader.open_memory(reinterpret_cast<const char*>(data), size);
  vorcnt::ClientSnapshot snap;
  snap.ext_index = 1;
  snap.state_status = vorcnt::read_state_lines(snap, reader);
  if (snap.state_status == 1 || (snap.state_status == 0 && snap.prog != 0.0)) std::abort();
  // The per-poll reader of the progress alone must read it the same way.
  vorcnt::TextReader again;
  again.open_memory(reinterpret_cast<const char*>(data), size);
  vorcnt::ClientSnapshot progress_only;
  if (vorcnt::read_progress_lines(progress_only, again) != snap.state_status ||
      std::memcmp(&progress_only.prog, &snap.prog, sizeof snap.prog) != 0)
    std::abort();
  vorcnt::ClientReport report;
  vorcnt::init_report(report);
  vorcnt::classify_snapshot(snap, report);
  if (report.data_state < vorcnt::Data_nothing || report.data_state > vorcnt::Data_Calculation_wait) std::abort();
  return 0;
}
