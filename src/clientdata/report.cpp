#include "clientdata/report.h"

#include <cstring>

namespace vorcnt {

namespace {

// "0.6" Greek small alpha "6", the alpha in code page 932.
constexpr char kReportVersion[] = "0.6\x83\xbf" "6";
static_assert(sizeof kReportVersion <= sizeof ClientReport::version);

// Copies a text between fields of the same size; never runs past either,
// even if the source has lost its terminator.
template <std::size_t N>
void copy_text(char (&dest)[N], const char (&source)[N]) {
  const void* end = std::memchr(source, '\0', N - 1);
  const std::size_t len = end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - source) : N - 1;
  std::memcpy(dest, source, len);
  dest[len] = '\0';
}

// Field by field, so that every text arrives terminated.
void copy_user_info(UserInfo& to, const UserInfo& from) {
  copy_text(to.id, from.id);
  copy_text(to.key, from.key);
  copy_text(to.email_addr, from.email_addr);
  copy_text(to.name, from.name);
  copy_text(to.url, from.url);
  copy_text(to.country, from.country);
  copy_text(to.postal_code, from.postal_code);
  copy_text(to.show_name, from.show_name);
  copy_text(to.show_email, from.show_email);
  copy_text(to.venue, from.venue);
  copy_text(to.register_time, from.register_time);
  copy_text(to.last_wu_time, from.last_wu_time);
  copy_text(to.last_result_time, from.last_result_time);
  to.nwus = from.nwus;
  to.nresults = from.nresults;
  to.total_cpu = from.total_cpu;
  to.params_index = from.params_index;
}

// `ext_index` 0: the ".txt" file set, no version file.
std::int32_t classify_plain_set(const ClientSnapshot& s) {
  if (s.work_unit_status == 1) return Data_Receiving;
  if (s.state_status == 2 && s.result_present == 1) return Data_Calculation_completion;
  if (s.state_status == 2) return Data_Calculation;
  if (s.work_unit_status == 2) return Data_Calculation_wait;
  if (s.result_present == 1) return Data_Sending;
  if (s.outfile_present == 1) return Data_Calculation_wait;
  return Data_nothing;
}

// `ext_index` 1: the ".vwu" file set. This client never leaves a result
// alone to be sent, and its output file says nothing about the state.
std::int32_t classify_versioned_set(const ClientSnapshot& s) {
  if (s.state_status == 2 && s.result_present == 1) return Data_Calculation_completion;
  if (s.state_status == 2 && s.work_unit_status == 2) return Data_Calculation;
  if (s.state_status == 2) return Data_Receiving;
  if (s.work_unit_status == 2) return Data_Calculation_wait;
  if (s.work_unit_status == 1) return Data_Receiving;
  return Data_nothing;
}

}  // namespace

const char* data_state_name(std::int32_t state) {
  switch (state) {
    case Data_nothing: return "Data_nothing";
    case Data_Calculation: return "Data_Calculation";
    case Data_Calculation_completion: return "Data_Calculation_completion";
    case Data_Sending: return "Data_Sending";
    case Data_Receiving: return "Data_Receiving";
    case Data_Calculation_wait: return "Data_Calculation_wait";
    default: return "?";
  }
}

void init_report(ClientReport& report) {
  std::memcpy(report.version, kReportVersion, sizeof kReportVersion);
  static_cast<UserInfo&>(report) = UserInfo{};
}

void clear_report_values(ClientReport& report) {
  report.progress = 0.0;
  report.bs_power = 0.0;
  report.bs_score = 0.0;
  report.bg_score = 0.0;
  report.bg_sigma = 0.0;
  report.bg_power = 0.0;
  report.bg_true_mean = 0.0;
  report.bg_chisq = 0.0;
  report.data_state = Data_nothing;
}

void classify_snapshot(const ClientSnapshot& snap, ClientReport& report) {
  clear_report_values(report);

  if (snap.state_status == 2) {
    report.progress = snap.prog * 100.0;
    report.bs_power = snap.bs_power;
    report.bs_score = snap.bs_score;
    report.bg_score = snap.bg_score;
    report.bg_sigma = snap.bg_sigma;
    report.bg_power = snap.bg_power;
    report.bg_true_mean = snap.bg_true_mean;
    report.bg_chisq = snap.bg_chisq;
  }

  // A missing user-info file also reads 1, so what the snapshot holds is
  // copied then too.
  if (snap.user_info_status == 1) {
    copy_user_info(report, snap);
  }

  report.data_state = snap.ext_index == 1 ? classify_versioned_set(snap) : classify_plain_set(snap);
}

std::int32_t classify_folder(const char* folder) {
  ClientSnapshot snap;
  ClientReport report;
  init_report(report);
  read_snapshot(folder, snap);
  classify_snapshot(snap, report);
  return report.data_state;
}

}  // namespace vorcnt
