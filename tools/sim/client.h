// The simulated client's behaviour, driven one poll at a time so that a test
// can run it in-process with its own clock.
#pragma once

#include <string>

#include "world.h"

namespace vorcnt::sim {

struct ClientSetup {
  std::string folder;  // the client folder, ending in a separator
  RunFolder run;
  ServerFolder server;
  Timings timings;     // nominal seconds
  double scale = 1.0;  // real seconds per nominal second
  Fault fault = Fault::none;
};

class SimClient {
 public:
  explicit SimClient(ClientSetup setup);

  // Registers this process and creates the version and user-info files when
  // missing. False when another live client holds the registration.
  bool start(long long now_ms);
  // One poll: takes a pending order and advances the work. False when the
  // client should end (an exit order, or its registration was taken away).
  bool step(long long now_ms);
  // Ends the run: drops the registration if it is still ours.
  void finish();

  bool closed() const { return closed_; }

 private:
  enum class Phase { idle, computing, uploading, downloading };

  std::string file(const char* name) const;
  long long real_ms(double nominal_seconds) const;
  void log(const std::string& line) const;
  bool owns_registration() const;
  std::string take_order();

  bool wants_connect(long long now_ms) const;
  void begin_compute(long long now_ms);
  void advance_compute(long long now_ms);
  void complete_compute();
  void write_state(double prog);
  void begin_connect(long long now_ms);
  bool upload();
  void begin_download(long long now_ms);
  void advance_download(long long now_ms);
  void give_up_connection(long long now_ms, const std::string& why);

  ClientSetup setup_;
  int pid_;
  Phase phase_ = Phase::idle;
  long long phase_start_ms_ = 0;
  long long retry_at_ms_ = 0;
  bool closed_ = false;
  bool connect_ordered_ = false;

  // Computing.
  std::string unit_id_;
  std::string unit_digest_;
  double start_prog_ = 0.0;
  int last_percent_ = -1;
  int state_writes_ = 0;

  // Downloading.
  std::string download_id_;
  std::string download_data_;
  std::size_t downloaded_ = 0;
};

// The text of a state file at `prog` for the unit with `digest`: prog, cpu and
// the spike and Gaussian keys the client reports, plus a few bg_pot lines.
std::string state_text(const std::string& digest, double prog, double cpu_seconds);

}  // namespace vorcnt::sim
