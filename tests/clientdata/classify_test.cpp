// Classification of real folders into a DataState, and the unit report.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "clientdata/folder_fixture.h"
#include "clientdata/report.h"

namespace vorcnt {
namespace {

using testing::Entry;
using testing::ScratchDir;

const Entry kVer{"version.vwu", ""};
const Entry kTxtProg{"state.txt", "prog=0.25\n"};
const Entry kVwuProg{"state.vwu", "prog=0.25\n"};
const Entry kWu{"work_unit.txt", "w"}, kTemp{"wtemp.txt", "t"}, kResult{"result.txt", "r"}, kOut{"outfile.txt", ""};
const Entry kVWu{"work_unit.vwu", "w"}, kVTemp{"wtemp.vwu", "t"}, kVResult{"result.vwu", "r"}, kVOut{"outfile.vwu", ""};

struct FolderCase {
  const char* label;
  std::vector<Entry> entries;
  std::int32_t data_state;
  double progress;
};
class DecisionTable : public ::testing::TestWithParam<FolderCase> {};

TEST_P(DecisionTable, ClassifiesTheFolder) {
  const FolderCase& c = GetParam();
  ScratchDir dir;
  testing::lay_out(dir, c.entries);
  ClientSnapshot snap;
  ClientReport report;
  init_report(report);
  read_snapshot(dir.path().c_str(), snap);
  classify_snapshot(snap, report);
  EXPECT_EQ(report.data_state, c.data_state) << data_state_name(report.data_state);
  EXPECT_EQ(report.progress, c.progress);
  EXPECT_EQ(classify_folder(dir.path().c_str()), c.data_state);
}

// The ".txt" set, row by row; the first row that holds wins.
const FolderCase kPlainSet[] = {
    {"R1_TempOnly", {kTemp}, Data_Receiving, 0.0},
    {"R1_TempWithProgress", {kTemp, kTxtProg}, Data_Receiving, 25.0},
    {"R1_TempOutranksFinishedResult", {kTemp, kTxtProg, kResult}, Data_Receiving, 25.0},
    {"R2_WorkUnitProgressResult", {kWu, kTxtProg, kResult}, Data_Calculation_completion, 25.0},
    {"R2_ProgressAndResultOnly", {kTxtProg, kResult}, Data_Calculation_completion, 25.0},
    {"R2_ResultIsAFolder", {kTxtProg, {"result.txt/", ""}}, Data_Calculation_completion, 25.0},
    {"R3_WorkUnitAndProgress", {kWu, kTxtProg}, Data_Calculation, 25.0},
    {"R3_ProgressOnly", {kTxtProg}, Data_Calculation, 25.0},
    {"R3_ProgLineWithoutNumber", {kWu, {"state.txt", "prog=\n"}}, Data_Calculation, 0.0},
    {"R4_WorkUnitOnly", {kWu}, Data_Calculation_wait, 0.0},
    {"R4_WorkUnitAndTemp", {kWu, kTemp}, Data_Calculation_wait, 0.0},
    {"R4_StateWithoutProgIsNoProgress", {kWu, {"state.txt", "cpu=5\n"}, kResult}, Data_Calculation_wait, 0.0},
    {"R5_ResultOnly", {kResult}, Data_Sending, 0.0},
    {"R5_ResultAndOutfile", {kResult, kOut}, Data_Sending, 0.0},
    {"R6_OutfileOnly", {kOut}, Data_Calculation_wait, 0.0},
    {"R7_Empty", {}, Data_nothing, 0.0},
    {"R7_StateWithoutProgAndUserInfo", {{"state.txt", "cpu=5\n"}, {"user_info.txt", "id=1\n"}}, Data_nothing, 0.0},
    {"R7_VwuFilesWithoutVersionFile", {kVWu, kVResult, kVwuProg}, Data_nothing, 0.0},
};
INSTANTIATE_TEST_SUITE_P(PlainSet, DecisionTable, ::testing::ValuesIn(kPlainSet), testing::kByLabel);

// The ".vwu" set, row by row.
const FolderCase kVersionedSet[] = {
    {"R1_ProgressAndResult", {kVer, kVwuProg, kVResult}, Data_Calculation_completion, 25.0},
    {"R1_WithWorkUnitToo", {kVer, kVwuProg, kVResult, kVWu}, Data_Calculation_completion, 25.0},
    {"R1_ResultOutranksTemp", {kVer, kVwuProg, kVResult, kVTemp}, Data_Calculation_completion, 25.0},
    {"R2_WorkUnitAndProgress", {kVer, kVwuProg, kVWu}, Data_Calculation, 25.0},
    {"R2_WorkUnitTempAndProgress", {kVer, kVwuProg, kVWu, kVTemp}, Data_Calculation, 25.0},
    {"R3_ProgressWithoutWorkUnitOrResult", {kVer, kVwuProg}, Data_Receiving, 25.0},
    {"R3_ProgressAndTemp", {kVer, kVwuProg, kVTemp}, Data_Receiving, 25.0},
    {"R4_WorkUnitOnly", {kVer, kVWu}, Data_Calculation_wait, 0.0},
    {"R4_WorkUnitAndResult", {kVer, kVWu, kVResult}, Data_Calculation_wait, 0.0},
    {"R4_WorkUnitAndTemp", {kVer, kVWu, kVTemp}, Data_Calculation_wait, 0.0},
    {"R5_TempOnly", {kVer, kVTemp}, Data_Receiving, 0.0},
    {"R5_TempAndResult", {kVer, kVTemp, kVResult}, Data_Receiving, 0.0},
    {"R6_VersionOnly", {kVer}, Data_nothing, 0.0},
    {"R6_ResultAlone", {kVer, kVResult}, Data_nothing, 0.0},
    {"R6_OutfileAlone", {kVer, kVOut}, Data_nothing, 0.0},
    {"R6_StateWithoutProg", {kVer, {"state.vwu", "cpu=1\n"}, kVResult}, Data_nothing, 0.0},
    {"R6_TxtSetBesideVersionFile", {kVer, kWu, kTxtProg, kResult}, Data_nothing, 0.0},
};
INSTANTIATE_TEST_SUITE_P(VersionedSet, DecisionTable, ::testing::ValuesIn(kVersionedSet), testing::kByLabel);

ClientSnapshot snapshot_with_values() {
  ClientSnapshot s;
  s.prog = 0.5;
  s.bs_power = 1, s.bs_score = 2, s.bg_score = 3, s.bg_sigma = 4, s.bg_power = 5, s.bg_true_mean = 6, s.bg_chisq = 7;
  std::strcpy(s.id, "42");
  std::strcpy(s.name, "Team \x8c\x76");
  std::strcpy(s.show_name, "yes");
  std::strcpy(s.last_result_time, "today");
  s.nwus = 8, s.nresults = 9, s.total_cpu = 10.5, s.params_index = 11;
  return s;
}

std::vector<double> state_values(const ClientReport& r) {
  return {r.progress, r.bs_power, r.bs_score, r.bg_score, r.bg_sigma, r.bg_power, r.bg_true_mean, r.bg_chisq};
}

TEST(Report, InitAndClearTouchTheirOwnFields) {
  ClientReport report;
  std::memset(static_cast<void*>(&report), 'z', sizeof report);
  init_report(report);
  EXPECT_EQ(std::string(report.version), "0.6\x83\xbf" "6");
  EXPECT_STREQ(report.id, "");
  EXPECT_STREQ(report.show_email, "");
  EXPECT_STREQ(report.last_result_time, "");
  EXPECT_EQ((std::array{report.nwus, report.nresults, report.params_index}), (std::array{0, 0, 0}));
  EXPECT_EQ(report.total_cpu, 0.0);

  ClientSnapshot snap = snapshot_with_values();
  snap.state_status = snap.user_info_status = 1;
  classify_snapshot(snap, report);
  report.progress = report.bs_power = report.bg_chisq = 9;
  report.data_state = Data_Sending;
  clear_report_values(report);
  EXPECT_EQ(state_values(report), std::vector<double>(8, 0.0));
  EXPECT_EQ(report.data_state, Data_nothing);
  EXPECT_STREQ(report.name, "Team \x8c\x76");
  EXPECT_EQ(report.nwus, 8);
  EXPECT_EQ(std::string(report.version), "0.6\x83\xbf" "6");
}

TEST(Report, StateValuesAreCopiedOnlyWithAProgLineAndNeverShowThrough) {
  ClientSnapshot snap = snapshot_with_values();
  ClientReport report;
  init_report(report);
  snap.state_status = 2;
  classify_snapshot(snap, report);
  EXPECT_EQ(state_values(report), (std::vector<double>{50, 1, 2, 3, 4, 5, 6, 7}));
  for (std::int32_t status : {0, 1}) {
    snap.state_status = status;
    classify_snapshot(snap, report);
    EXPECT_EQ(state_values(report), std::vector<double>(8, 0.0));
  }
}

TEST(Report, UserValuesAreCopiedWhenStatusIsOne) {
  ClientSnapshot snap = snapshot_with_values();
  ClientReport report;
  init_report(report);
  snap.user_info_status = 0;
  classify_snapshot(snap, report);
  EXPECT_STREQ(report.id, "");
  EXPECT_EQ(report.nwus, 0);
  snap.user_info_status = 1;
  classify_snapshot(snap, report);
  EXPECT_EQ((std::array<std::string, 4>{report.id, report.name, report.show_name, report.last_result_time}),
            (std::array<std::string, 4>{"42", "Team \x8c\x76", "yes", "today"}));
  EXPECT_EQ((std::array{report.nwus, report.nresults, report.params_index}), (std::array{8, 9, 11}));
  EXPECT_EQ(report.total_cpu, 10.5);
  EXPECT_EQ(report.data_state, Data_nothing) << "user info plays no part in the decision";
}

// A missing user-info file reads 1, so the report takes what the reused
// record still holds from an earlier folder.
TEST(Report, MissingUserInfoFileCopiesWhatTheRecordHeld) {
  ScratchDir with_info, without_info;
  testing::lay_out(with_info, {{"user_info.txt", "name=Old Team\nnwus=2\n"}});
  testing::lay_out(without_info, {kResult});
  ClientSnapshot snap;
  read_snapshot(with_info.path().c_str(), snap);
  read_snapshot(without_info.path().c_str(), snap);
  ClientReport report;
  init_report(report);
  classify_snapshot(snap, report);
  EXPECT_STREQ(report.name, "Old Team");
  EXPECT_EQ(report.nwus, 2);
  EXPECT_EQ(report.data_state, Data_Sending);
}

TEST(Report, DataStateNamesAreQuestionMarksOutOfRange) {
  EXPECT_STREQ(data_state_name(6), "?");
  EXPECT_STREQ(data_state_name(-1), "?");
}

}  // namespace
}  // namespace vorcnt
