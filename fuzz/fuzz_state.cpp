// libFuzzer entry point: the input becomes state.vwu in a client folder that
// holds version.vwu, and is read as on every poll.

#include <stdlib.h>  // mkdtemp

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "clientdata/report.h"
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
  std::FILE* f = std::fopen((folder + "state.vwu").c_str(), "wb");
  if (f == nullptr || std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);

  vorcnt::ClientSnapshot snap;
  snap.ext_index = 1;
  snap.state_status = vorcnt::read_state(snap, folder.c_str());
  if (snap.state_status == 1 || (snap.state_status == 0 && snap.prog != 0.0)) std::abort();
  vorcnt::ClientReport report;
  vorcnt::init_report(report);
  vorcnt::classify_snapshot(snap, report);
  if (report.data_state < vorcnt::Data_nothing || report.data_state > vorcnt::Data_Calculation_wait) std::abort();
  return 0;
}
