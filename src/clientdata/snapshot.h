// One look at a client data folder (the client folder or a unit folder):
// which of the client's files exist, and what its two key=value files say.
#pragma once

#include <cstdint>
#include <string>

namespace vorcnt {

// Extension table: index 0 ".txt", index 1 ".vwu" (chosen by "version.vwu").
extern const char kExtensions[2][6];

// What user_info.vwu says of the account; the snapshot reads it and the
// report passes it on.
struct UserInfo {
  char id[255] = {};
  char key[255] = {};
  char email_addr[255] = {};
  char name[255] = {};
  char url[255] = {};
  char country[255] = {};
  char postal_code[255] = {};
  char show_name[32] = {};
  char show_email[32] = {};
  char venue[255] = {};
  char register_time[255] = {};
  char last_wu_time[255] = {};
  char last_result_time[255] = {};
  std::int32_t nwus = 0;
  std::int32_t nresults = 0;
  double total_cpu = 0;
  std::int32_t params_index = 0;
};

struct ClientSnapshot : UserInfo {
  std::int32_t ext_index = 0;
  std::int32_t state_status = 0;      // 0 read, no prog line; 1 open failed; 2 prog line read
  std::int32_t work_unit_status = 0;  // 2 work unit; 1 only the temporary one; 0 neither
  std::int32_t result_present = 0;
  std::int32_t outfile_present = 0;
  std::int32_t user_info_status = 0;  // 1 open failed or an id line read; 0 otherwise
  double ncfft = 0, cr = 0, fl = 0, cpu = 0, prog = 0;
  double bs_power = 0, bs_score = 0, bs_bin = 0, bs_fft_ind = 0, bs_chirp_rate = 0, bs_fft_len = 0;
  double bg_score = 0, bg_sigma = 0, bg_power = 0, bg_true_mean = 0, bg_chisq = 0;
  double bg_bin = 0, bg_fft_ind = 0, bg_chirp_rate = 0, bg_fft_len = 0;
  double bg_pot[64] = {};
};

// `folder` is the folder text, normally ending in a separator; file names are
// formed by plain concatenation. A full name over 255 bytes counts as absent.
int probe_work_unit(const char* folder, int ext_index);
int probe_result(const char* folder, int ext_index);
int probe_outfile(const char* folder, int ext_index);
void clear_progress(ClientSnapshot& snap);
// Fills `snap` in place; fields whose keys the files lack keep their values.
void read_snapshot(const char* folder, ClientSnapshot& snap);
// What the classification decides on, and no more: the probes, and of the
// state file only its `prog` line, read as read_snapshot reads it. The
// user-info file and the other values are left unread. Every poll takes
// one, so it is the cheap one.
void read_decision_snapshot(const char* folder, ClientSnapshot& snap);

// The files a snapshot reads in `folder`, as they stand now: whether each is
// there, its size and its modification time. Nothing is opened, so a look
// costs a few probes.
struct ClientFilesLook {
  std::string marks;         // equal marks: nothing seen changed in between
  bool dated = false;        // at least one of the files is there, with a time
  std::int64_t newest = 0;   // the newest modification time, seconds since 1970
};
ClientFilesLook look_at_client_files(const char* folder);

// What a connection has left in `folder`: whether the result and the work
// unit are there, and the temporary work unit's size and time ("" when it is
// absent), so that a download still growing shows as a change.
struct ConnectionLook {
  bool result = false;
  bool work_unit = false;
  std::string download;
};
ConnectionLook look_at_connection(const char* folder);

// Returns 1 when the file could not be opened or held an `id` line, else 0.
std::int32_t read_user_info(ClientSnapshot& snap, const char* folder);
// Returns 1 when the file could not be opened, 2 when a `prog` line was read,
// else 0.
std::int32_t read_state(ClientSnapshot& snap, const char* folder);

class TextReader;
// The line-reading halves of the two readers, for a reader already opened
// (the fuzz targets feed them from memory). Results as above, without 1.
std::int32_t read_user_info_lines(ClientSnapshot& snap, TextReader& reader);
std::int32_t read_state_lines(ClientSnapshot& snap, TextReader& reader);
// read_state_lines for `prog` alone: the same result and the same `prog`.
std::int32_t read_progress_lines(ClientSnapshot& snap, TextReader& reader);

}  // namespace vorcnt
