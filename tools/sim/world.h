// The shared layout of the simulated world: the run folder through which the
// closer finds the client, the project server's folders, and the formats of
// work units and results.
//
// Run folder (VORSIM_RUNDIR, default <temp>/vorelith-sim):
//   client.reg   pid=N and folder=... of the running client (written whole)
//   order        one pending order word: exit, close or connect
//   orders.log   every order the closer was given, one line each
//   client.log   what the client did; "result <id> <digest>" lines record
//                every result it computed
//   fault.struck left by a fault that strikes once per run folder
// Server folder (VORSIM_SERVER):
//   queue/<id>.wu      work units waiting to be handed out
//   issued/<id>.wu     work units handed out
//   results/<id>-<n>.res   uploaded results; n counts uploads of one id
#pragma once

#include <optional>
#include <string>

namespace vorcnt::sim {

struct RunFolder {
  std::string dir;

  // From VORSIM_RUNDIR, else the temp folder's "vorelith-sim".
  static RunFolder from_env();

  std::string registration() const;
  std::string order() const;
  std::string orders_log() const;
  std::string client_log() const;
  std::string fault_mark() const;
};

struct Registration {
  int pid = 0;
  std::string folder;
};

std::optional<Registration> read_registration(const RunFolder& run);
bool write_registration(const RunFolder& run, const Registration& reg);

struct ServerFolder {
  std::string dir;  // empty when no server is configured

  static ServerFolder from_env();

  std::string queue() const;
  std::string issued() const;
  std::string results() const;
};

// A work unit's text starts with "id=<id>\n"; the rest is its data.
std::string work_unit_id(const std::string& work_unit);
// The digest a correct result carries: FNV-1a 64 of the whole work unit text.
std::string work_unit_digest(const std::string& work_unit);

struct ResultRecord {
  std::string id;
  std::string digest;
  double cpu = 0.0;
};
std::string format_result(const ResultRecord& result);
ResultRecord parse_result(const std::string& text);

// The client's timings, in nominal seconds before VORCNT_TIME_SCALE.
struct Timings {
  double compute = 600.0;  // VORSIM_COMPUTE_SECONDS
  double upload = 10.0;    // VORSIM_UPLOAD_SECONDS
  double download = 20.0;  // VORSIM_DOWNLOAD_SECONDS
  double retry = 60.0;     // VORSIM_RETRY_SECONDS: pause after a failed connection

  static Timings from_env();
};

enum class Fault { none, crash, never, slowdownload, tornstate, connectcrash };
// VORSIM_FAULT; an unknown word counts as none.
Fault fault_from_env();

}  // namespace vorcnt::sim
