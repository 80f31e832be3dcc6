#include "world.h"

#include <cstdio>
#include <cstdlib>

#include "sim_files.h"
#include "sim_os.h"

namespace vorcnt::sim {

RunFolder RunFolder::from_env() {
  return RunFolder{env_text("VORSIM_RUNDIR", join(temp_folder(), "vorelith-sim"))};
}

std::string RunFolder::registration() const { return join(dir, "client.reg"); }
std::string RunFolder::order() const { return join(dir, "order"); }
std::string RunFolder::orders_log() const { return join(dir, "orders.log"); }
std::string RunFolder::client_log() const { return join(dir, "client.log"); }
std::string RunFolder::fault_mark() const { return join(dir, "fault.struck"); }

std::optional<Registration> read_registration(const RunFolder& run) {
  std::string text;
  if (!read_file(run.registration(), text)) return std::nullopt;
  KeyValues values = parse_key_values(text);
  Registration reg;
  reg.pid = std::atoi(value_of(values, "pid").c_str());
  reg.folder = value_of(values, "folder");
  // A registration is written whole, so one without a pid is not ours to
  // trust; treat it as absent.
  if (reg.pid <= 0) return std::nullopt;
  return reg;
}

bool write_registration(const RunFolder& run, const Registration& reg) {
  make_folders(run.dir);
  return write_file_atomic(run.registration(),
                           "pid=" + std::to_string(reg.pid) + "\nfolder=" + reg.folder + "\n");
}

ServerFolder ServerFolder::from_env() { return ServerFolder{env_text("VORSIM_SERVER", "")}; }

std::string ServerFolder::queue() const { return join(dir, "queue"); }
std::string ServerFolder::issued() const { return join(dir, "issued"); }
std::string ServerFolder::results() const { return join(dir, "results"); }

std::string work_unit_id(const std::string& work_unit) {
  if (work_unit.compare(0, 3, "id=") != 0) return {};
  std::size_t end = work_unit.find_first_of("\r\n", 3);
  if (end == std::string::npos) end = work_unit.size();
  return work_unit.substr(3, end - 3);
}

std::string work_unit_digest(const std::string& work_unit) { return hex64(fnv1a64(work_unit)); }

std::string format_result(const ResultRecord& result) {
  char cpu[64];
  std::snprintf(cpu, sizeof cpu, "%.6f", result.cpu);
  return "id=" + result.id + "\ndigest=" + result.digest + "\ncpu=" + cpu + "\n";
}

ResultRecord parse_result(const std::string& text) {
  // A result of binary work carries raw bytes after its text.
  KeyValues values = parse_key_values(text.substr(0, text.find('\0')));
  ResultRecord result;
  result.id = value_of(values, "id");
  result.digest = value_of(values, "digest");
  result.cpu = std::atof(value_of(values, "cpu").c_str());
  return result;
}

Timings Timings::from_env() {
  Timings t;
  t.compute = env_seconds("VORSIM_COMPUTE_SECONDS", t.compute);
  t.upload = env_seconds("VORSIM_UPLOAD_SECONDS", t.upload);
  t.download = env_seconds("VORSIM_DOWNLOAD_SECONDS", t.download);
  t.retry = env_seconds("VORSIM_RETRY_SECONDS", t.retry);
  return t;
}

Fault fault_from_env() {
  std::string word = env_text("VORSIM_FAULT", "");
  if (word == "crash") return Fault::crash;
  if (word == "never") return Fault::never;
  if (word == "slowdownload") return Fault::slowdownload;
  if (word == "tornstate") return Fault::tornstate;
  if (word == "connectcrash") return Fault::connectcrash;
  return Fault::none;
}

}  // namespace vorcnt::sim
