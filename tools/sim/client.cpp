#include "client.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "sim_files.h"
#include "server.h"
#include "sim_os.h"

namespace vorcnt::sim {

namespace {

constexpr const char* kWorkUnit = "work_unit.vwu";
constexpr const char* kTempUnit = "wtemp.vwu";
constexpr const char* kResult = "result.vwu";
constexpr const char* kState = "state.vwu";
constexpr const char* kOutfile = "outfile.vwu";
constexpr const char* kVersion = "version.vwu";
constexpr const char* kUserInfo = "user_info.vwu";

// The crash and never-finish faults strike a quarter of the way through a
// unit, leaving most of it for a resumed run to finish.
constexpr double kFaultPoint = 0.25;
// The slow download takes this many times longer.
constexpr double kSlowDownloadFactor = 10.0;

std::string fixed(double value) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.6f", value);
  return buf;
}

// A small generator so the reported signal values look alive but depend only
// on the unit and how far it has got.
struct Mixer {
  std::uint64_t s;
  double next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<double>(s >> 11) / 9007199254740992.0;
  }
};

}  // namespace

std::string state_text(const std::string& digest, double prog, double cpu_seconds) {
  Mixer mix{fnv1a64(digest) | 1};
  // Candidates found so far grow with progress.
  double found = 0.2 + 0.8 * prog;
  std::string text;
  auto line = [&text](const char* key, const std::string& value) { text += std::string(key) + "=" + value + "\n"; };
  line("ncfft", std::to_string(static_cast<long>(1 + prog * 120000)));
  line("cr", fixed(-0.05 + 0.1 * mix.next()));
  line("fl", std::to_string(1 << (3 + static_cast<int>(mix.next() * 14))));
  line("cpu", fixed(cpu_seconds));
  line("prog", fixed(prog));
  line("bs_power", fixed(found * (10.0 + 40.0 * mix.next())));
  line("bs_score", fixed(found * mix.next()));
  line("bs_bin", std::to_string(static_cast<long>(mix.next() * 131072)));
  line("bs_fft_ind", std::to_string(static_cast<long>(mix.next() * 64)));
  line("bs_chirp_rate", fixed(-30.0 + 60.0 * mix.next()));
  line("bs_fft_len", std::to_string(1 << (3 + static_cast<int>(mix.next() * 14))));
  line("bg_score", fixed(found * mix.next()));
  line("bg_sigma", fixed(1.0 + 4.0 * mix.next()));
  line("bg_power", fixed(found * (1.0 + 5.0 * mix.next())));
  line("bg_true_mean", fixed(0.5 + mix.next()));
  line("bg_chisq", fixed(found * 2.0 * mix.next()));
  line("bg_bin", std::to_string(static_cast<long>(mix.next() * 131072)));
  line("bg_fft_ind", std::to_string(static_cast<long>(mix.next() * 64)));
  line("bg_chirp_rate", fixed(-30.0 + 60.0 * mix.next()));
  line("bg_fft_len", std::to_string(1 << (3 + static_cast<int>(mix.next() * 14))));
  for (int i = 0; i < 4; ++i) text += "bg_pot=" + std::to_string(i) + "," + fixed(found * mix.next()) + "\n";
  return text;
}

SimClient::SimClient(ClientSetup setup) : setup_(std::move(setup)), pid_(current_pid()) {}

std::string SimClient::file(const char* name) const { return join(setup_.folder, name); }

long long SimClient::real_ms(double nominal_seconds) const {
  double ms = nominal_seconds * setup_.scale * 1000.0;
  return ms > 0.0 ? std::llround(ms) : 0;
}

void SimClient::log(const std::string& line) const { append_file(setup_.run.client_log(), line + "\n"); }

bool SimClient::owns_registration() const {
  auto reg = read_registration(setup_.run);
  return reg && reg->pid == pid_;
}

std::string SimClient::take_order() {
  std::string text;
  if (!read_file(setup_.run.order(), text)) return {};
  remove_file(setup_.run.order());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

bool SimClient::start(long long now_ms) {
  make_folders(setup_.run.dir);
  auto reg = read_registration(setup_.run);
  if (reg && reg->pid != pid_ && process_alive(reg->pid)) {
    log("start refused: client " + std::to_string(reg->pid) + " is running");
    return false;
  }
  // An order left by nobody's client must not reach this one.
  remove_file(setup_.run.order());
  if (!write_registration(setup_.run, Registration{pid_, setup_.folder})) return false;
  if (!file_exists(file(kVersion))) write_file_atomic(file(kVersion), "client=Vorelith\nversion=0.6\n");
  if (!file_exists(file(kUserInfo))) {
    write_file_atomic(file(kUserInfo),
                      "id=4711\nkey=s1m0k3y\nemail_addr=sim@example.invalid\nname=Vorelith Simulator\n"
                      "url=http://example.invalid/\ncountry=Japan\npostal_code=100-0001\nshow_name=yes\n"
                      "show_email=no\nvenue=home\nregister_time=2000-01-01 00:00:00\nlast_wu_time=\n"
                      "last_result_time=\nnwus=0\nnresults=0\ntotal_cpu=0.000000\nparams_index=0\n");
  }
  retry_at_ms_ = now_ms;
  log("start " + std::to_string(pid_));
  return true;
}

bool SimClient::step(long long now_ms) {
  if (!owns_registration()) {
    log("registration gone");
    return false;
  }
  std::string order = take_order();
  if (!order.empty()) log("order " + order);
  if (order == "exit") return false;
  if (order == "close") closed_ = true;
  if (order == "connect") connect_ordered_ = true;

  switch (phase_) {
    case Phase::idle:
      if (file_exists(file(kWorkUnit)) && !file_exists(file(kResult))) {
        begin_compute(now_ms);
      } else if (wants_connect(now_ms)) {
        begin_connect(now_ms);
      }
      break;
    case Phase::computing:
      advance_compute(now_ms);
      break;
    case Phase::uploading:
      if (now_ms - phase_start_ms_ >= real_ms(setup_.timings.upload)) {
        if (upload()) {
          begin_download(now_ms);
        } else {
          give_up_connection(now_ms, "upload failed");
        }
      }
      break;
    case Phase::downloading:
      advance_download(now_ms);
      break;
  }
  return true;
}

void SimClient::finish() {
  if (owns_registration()) remove_file(setup_.run.registration());
  log("exit");
}

bool SimClient::wants_connect(long long now_ms) const {
  if (now_ms < retry_at_ms_) return false;
  if (closed_ && !connect_ordered_) return false;
  // Something to send, or no work to compute: a unit to fill.
  return file_exists(file(kResult)) || !file_exists(file(kWorkUnit));
}

void SimClient::begin_compute(long long now_ms) {
  std::string unit;
  if (!read_file(file(kWorkUnit), unit)) return;
  unit_id_ = work_unit_id(unit);
  unit_digest_ = work_unit_digest(unit);
  start_prog_ = 0.0;
  std::string state;
  if (read_file(file(kState), state)) {
    KeyValues values = parse_key_values(state);
    if (values.count("prog") != 0) start_prog_ = std::clamp(std::atof(values["prog"].c_str()), 0.0, 0.999999);
  }
  phase_ = Phase::computing;
  phase_start_ms_ = now_ms;
  last_percent_ = -1;
  log("compute " + unit_id_ + " from " + fixed(start_prog_));
  advance_compute(now_ms);
}

void SimClient::advance_compute(long long now_ms) {
  if (!file_exists(file(kWorkUnit))) {
    log("work unit gone: " + unit_id_);
    phase_ = Phase::idle;
    return;
  }
  long long total = real_ms(setup_.timings.compute);
  double prog = total > 0 ? start_prog_ + static_cast<double>(now_ms - phase_start_ms_) / static_cast<double>(total) : 1.0;
  if (setup_.fault == Fault::never) prog = std::min(prog, kFaultPoint);
  if (setup_.fault == Fault::crash && prog >= kFaultPoint) {
    write_state(kFaultPoint);
    log("crash " + unit_id_);
    std::_Exit(3);
  }
  if (prog >= 1.0) {
    complete_compute();
    return;
  }
  int percent = static_cast<int>(prog * 100.0);
  if (percent != last_percent_) {
    last_percent_ = percent;
    write_state(prog);
  }
}

// A real client's result is binary: VORSIM_RESULT_BYTES adds that many raw
// bytes, the same for the same unit, on a line of their own under a key the
// server does not read. They hold zero runs and every other byte but a line end.
namespace {

void append_raw_bytes(std::string& text, const std::string& digest) {
  const auto count = static_cast<std::size_t>(env_seconds("VORSIM_RESULT_BYTES", 0));
  if (count == 0) return;
  Mixer mix{fnv1a64(digest) | 1};
  text += "raw=";
  for (std::size_t i = 0; i < count; ++i) {
    const auto byte = static_cast<char>(i % 512 < 64 ? 0 : static_cast<int>(mix.next() * 256));
    text += byte == '\n' ? '\0' : byte;
  }
  text += '\n';
}

}  // namespace

void SimClient::complete_compute() {
  ResultRecord result{unit_id_, unit_digest_, setup_.timings.compute};
  std::string text = format_result(result);
  append_raw_bytes(text, unit_digest_);
  if (!write_file_atomic(file(kResult), text)) {
    log("cannot write result " + unit_id_);
    return;  // try again on the next poll
  }
  write_state(1.0);
  log("result " + unit_id_ + " " + unit_digest_);
  remove_file(file(kWorkUnit));
  phase_ = Phase::idle;
}

void SimClient::write_state(double prog) {
  std::string text = state_text(unit_digest_, prog, prog * setup_.timings.compute);
  ++state_writes_;
  if (setup_.fault == Fault::tornstate && state_writes_ % 3 == 0) {
    // Written in place and cut off inside the prog value for a while: what a
    // reader sees when it looks while the client is still writing.
    std::size_t cut = text.find("prog=");
    cut = cut == std::string::npos ? text.size() / 2 : cut + 7;
    write_file(file(kState), text.substr(0, cut));
    sleep_ms(100);
    write_file(file(kState), text);
    return;
  }
  write_file_atomic(file(kState), text);
}

void SimClient::give_up_connection(long long now_ms, const std::string& why) {
  log(why);
  phase_ = Phase::idle;
  connect_ordered_ = false;
  retry_at_ms_ = now_ms + real_ms(setup_.timings.retry);
}

void SimClient::begin_connect(long long now_ms) {
  if (setup_.server.dir.empty() || !file_exists(setup_.server.dir)) {
    give_up_connection(now_ms, "no server");
    return;
  }
  log("connect");
  if (file_exists(file(kResult))) {
    phase_ = Phase::uploading;
    phase_start_ms_ = now_ms;
    return;
  }
  // An empty unit: what is left of an earlier unit goes before new work comes.
  remove_file(file(kState));
  remove_file(file(kOutfile));
  begin_download(now_ms);
}

bool SimClient::upload() {
  std::string text;
  if (!read_file(file(kResult), text)) return false;
  ResultRecord result = parse_result(text);
  std::string id = result.id.empty() ? "unknown" : result.id;
  std::string results = setup_.server.results();
  make_folders(results);
  std::string side = join(results, "." + id + "." + std::to_string(pid_) + ".tmp");
  if (!write_file(side, text)) {
    remove_file(side);
    return false;
  }
  // Each upload of one id gets the next free number, so a second upload of
  // the same result shows as a duplicate instead of replacing the first.
  std::string name;
  for (int seq = 1; seq < 10000 && name.empty(); ++seq) {
    std::string candidate = id + "-" + std::to_string(seq) + ".res";
    if (move_new(side, join(results, candidate))) name = candidate;
  }
  if (name.empty()) {
    remove_file(side);
    return false;
  }
  log("upload " + id + " " + name);
  remove_file(file(kResult));
  remove_file(file(kState));
  remove_file(file(kOutfile));
  return true;
}

void SimClient::begin_download(long long now_ms) {
  make_folders(setup_.server.issued());
  std::string claimed;
  for (const std::string& name : list_files(setup_.server.queue())) {
    if (move_new(join(setup_.server.queue(), name), join(setup_.server.issued(), name))) {
      claimed = name;
      break;
    }
  }
  if (claimed.empty() && refill_when_dry(setup_.server, setup_.scale)) {
    log("server refilled");
    begin_download(now_ms);
    return;
  }
  if (claimed.empty()) {
    give_up_connection(now_ms, "queue empty");
    return;
  }
  if (!read_file(join(setup_.server.issued(), claimed), download_data_) || !write_file(file(kTempUnit), "")) {
    give_up_connection(now_ms, "download failed: " + claimed);
    return;
  }
  download_id_ = work_unit_id(download_data_);
  downloaded_ = 0;
  phase_ = Phase::downloading;
  phase_start_ms_ = now_ms;
  log("download " + download_id_ + " begin");
  advance_download(now_ms);
}

void SimClient::advance_download(long long now_ms) {
  double seconds = setup_.timings.download;
  if (setup_.fault == Fault::slowdownload) seconds *= kSlowDownloadFactor;
  long long total = real_ms(seconds);
  double part = total > 0 ? static_cast<double>(now_ms - phase_start_ms_) / static_cast<double>(total) : 1.0;
  std::size_t target = part >= 1.0 ? download_data_.size()
                                   : static_cast<std::size_t>(part * static_cast<double>(download_data_.size()));
  if (setup_.fault == Fault::connectcrash && part >= kFaultPoint * 2 && !file_exists(setup_.run.fault_mark())) {
    // Halfway through the download, once per run folder: a client started
    // again afterwards connects as if nothing had happened.
    write_file(setup_.run.fault_mark(), "connectcrash\n");
    log("crash during download " + download_id_);
    std::_Exit(3);
  }
  if (target > downloaded_) {
    if (!append_file(file(kTempUnit), download_data_.substr(downloaded_, target - downloaded_))) {
      give_up_connection(now_ms, "download failed: " + download_id_);
      return;
    }
    downloaded_ = target;
  }
  if (downloaded_ < download_data_.size()) return;
  if (!replace_file(file(kTempUnit), file(kWorkUnit))) {
    give_up_connection(now_ms, "download failed: " + download_id_);
    return;
  }
  log("download " + download_id_ + " done");
  download_data_.clear();
  connect_ordered_ = false;
  phase_ = Phase::idle;
}

}  // namespace vorcnt::sim
