// The buffer as Prometheus text exposition, for a textfile collector. Every
// metric is a gauge: each value is a reading of now, none a running count.
#include <cmath>
#include <cstdio>

#include "clientdata/report.h"
#include "report_text.h"
#include "vorstat_report.h"

namespace vorcnt::vorstat {

namespace {

constexpr int kStates = 6;  // Data_nothing .. Data_Calculation_wait

std::string number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", value);
  return buf;
}

void gauge(std::string& out, const char* name, const char* help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += " gauge\n";
}

void sample(std::string& out, const char* name, const std::string& labels, double value) {
  out += name;
  out += labels;
  out += ' ';
  out += number(value);
  out += '\n';
}

std::string state_label(int state) { return std::string("{state=\"") + data_state_name(state) + "\"}"; }

// The same figures as the table's and the JSON's outlook. A figure that is
// not known has no sample, so that no alert fires on a guess.
void outlook_gauges(std::string& out, const Outlook& o) {
  gauge(out, "vorcnt_controller_up", "1 while a controller holds the client folder's lock.");
  sample(out, "vorcnt_controller_up", "", o.controller_up ? 1 : 0);
  gauge(out, "vorcnt_controller_waiting", "1 for what the running controller says it waits for, 0 for the others.");
  if (o.controller_up && o.status_file)
    for (const char* kind : {"none", "client_computing", "connection", "window", "no_work", "failure"})
      sample(out, "vorcnt_controller_waiting", std::string("{for=\"") + kind + "\"}", o.published.wait == kind ? 1 : 0);
  gauge(out, "vorcnt_controller_start_timestamp_seconds", "When the running controller started.");
  if (o.controller_up && o.status_file)
    sample(out, "vorcnt_controller_start_timestamp_seconds", "", static_cast<double>(o.published.started));
  gauge(out, "vorcnt_units_waiting_to_compute",
        "Units waiting to be computed, whatever state -fill left them in; the running one not counted.");
  sample(out, "vorcnt_units_waiting_to_compute", "", o.counts.to_compute);
  gauge(out, "vorcnt_units_waiting_to_send", "Units computed and waiting to be sent.");
  sample(out, "vorcnt_units_waiting_to_send", "", o.counts.to_send);
  gauge(out, "vorcnt_buffer_seconds_left",
        "Computing left in the buffer at the median pace of the last 20 computed units.");
  if (o.seconds_left >= 0) sample(out, "vorcnt_buffer_seconds_left", "", o.seconds_left);
  gauge(out, "vorcnt_connect_window_opens_timestamp_seconds", "When a closed connection window next opens.");
  if (o.window_opens > 0)
    sample(out, "vorcnt_connect_window_opens_timestamp_seconds", "", static_cast<double>(o.window_opens));
  gauge(out, "vorcnt_last_connection_timestamp_seconds", "When the client last finished a connection.");
  if (o.last_connection > 0)
    sample(out, "vorcnt_last_connection_timestamp_seconds", "", static_cast<double>(o.last_connection));
}

// First in every file, so that one rule tells a file of figures from one
// that says only why there are none.
void scrape_gauge(std::string& out, bool ok) {
  gauge(out, "vorcnt_scrape_ok",
        "1 when vorstat read the client folder and made this report; 0 when it could not, and gave no other figure.");
  sample(out, "vorcnt_scrape_ok", "", ok ? 1 : 0);
}

}  // namespace

std::string format_prometheus(const BufferStatus& status) {
  std::string out;
  scrape_gauge(out, true);
  gauge(out, "vorcnt_client_folder_present", "1 when the client folder exists.");
  sample(out, "vorcnt_client_folder_present", "", 1);

  gauge(out, "vorcnt_unit_folders", "Unit folders found, unit0 upward.");
  sample(out, "vorcnt_unit_folders", "", static_cast<double>(status.units.size()));

  int per_state[kStates] = {};
  int moving = status.client.in_transition ? 1 : 0;
  bool waiting = false;
  std::int64_t oldest = 0;
  for (const FolderStatus& f : status.units) {
    if (f.in_transition) {
      ++moving;
      continue;
    }
    const int state = f.report.data_state;
    if (state >= 0 && state < kStates) ++per_state[state];
    // A unit parked as Data_Calculation (as -fill may leave one) waits to be
    // computed just as much.
    const bool to_compute = state == Data_Calculation_wait || state == Data_Calculation;
    if (to_compute && f.work_unit_dated && (!waiting || f.work_unit_age > oldest)) {
      oldest = f.work_unit_age;
      waiting = true;
    }
  }
  gauge(out, "vorcnt_units", "Unit folders in each data state, leaving out those in transition.");
  for (int state = 0; state < kStates; ++state) sample(out, "vorcnt_units", state_label(state), per_state[state]);

  gauge(out, "vorcnt_folders_in_transition", "Folders, the client folder included, whose files were being moved.");
  sample(out, "vorcnt_folders_in_transition", "", moving);

  gauge(out, "vorcnt_client_state", "1 for the client folder's data state, 0 for the others.");
  for (int state = 0; state < kStates; ++state)
    sample(out, "vorcnt_client_state", state_label(state), status.client.report.data_state == state ? 1 : 0);

  gauge(out, "vorcnt_client_progress_ratio", "The client's progress on its work unit, 0 to 1.");
  if (credible_progress(status.client.report.progress))
    sample(out, "vorcnt_client_progress_ratio", "", status.client.report.progress / 100);

  gauge(out, "vorcnt_client_result_present", "1 when the client folder holds a result file.");
  sample(out, "vorcnt_client_result_present", "", status.client.snap.result_present == 1 ? 1 : 0);

  // Anything here wants a look by hand: the controller never uses these files again.
  gauge(out, "vorcnt_damaged_files", "Files set aside under damaged/ in the client folder.");
  sample(out, "vorcnt_damaged_files", "", static_cast<double>(status.damaged.size()));
  // No sample without a file to date: an alert must not fire on an empty folder.
  gauge(out, "vorcnt_client_unchanged_seconds",
        "Seconds since any of the client's files last changed, by their newest modification time.");
  if (status.client.files_dated)
    sample(out, "vorcnt_client_unchanged_seconds", "", static_cast<double>(status.client.files_unchanged));

  // Ages of times ahead of the clock read 0; this says so, for an alert of
  // its own, since the stall alert cannot fire on them.
  gauge(out, "vorcnt_clock_ahead", "1 when a file time read lies ahead of the clock (its age reads 0), else 0.");
  sample(out, "vorcnt_clock_ahead", "", status.clock_ahead() ? 1 : 0);

  gauge(out, "vorcnt_oldest_waiting_work_unit_age_seconds",
        "Age of the oldest work unit waiting in a unit folder; 0 when none waits.");
  sample(out, "vorcnt_oldest_waiting_work_unit_age_seconds", "", static_cast<double>(oldest));

  gauge(out, "vorcnt_units_waiting_for_work", "Units whose project had no work, waiting to ask again (NOWORK).");
  sample(out, "vorcnt_units_waiting_for_work", "", static_cast<double>(status.waiting_for_work.size()));
  outlook_gauges(out, status.outlook);
  return out;
}

std::string format_prometheus_failed(bool no_folder) {
  std::string out;
  scrape_gauge(out, false);
  // A folder that cannot be read may well be there: no sample then.
  if (no_folder) {
    gauge(out, "vorcnt_client_folder_present", "1 when the client folder exists.");
    sample(out, "vorcnt_client_folder_present", "", 0);
  }
  return out;
}

}  // namespace vorcnt::vorstat
