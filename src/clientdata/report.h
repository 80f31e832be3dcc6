// Classification of a snapshot into one DataState, with the unit report.
#pragma once

#include <cstdint>

#include "clientdata/snapshot.h"
#include "ground/data_state.h"

namespace vorcnt {

// Name of a DataState value ("Data_nothing" ...); "?" for any other value.
const char* data_state_name(std::int32_t state);

struct ClientReport : UserInfo {
  char version[32] = {};
  double progress = 0;
  double bs_power = 0, bs_score = 0;
  double bg_score = 0, bg_sigma = 0, bg_power = 0, bg_true_mean = 0, bg_chisq = 0;
  std::int32_t data_state = Data_nothing;
};

void init_report(ClientReport& report);
void clear_report_values(ClientReport& report);
void classify_snapshot(const ClientSnapshot& snap, ClientReport& report);

// read_snapshot + classify_snapshot of one folder into a fresh record.
std::int32_t classify_folder(const char* folder);

}  // namespace vorcnt
