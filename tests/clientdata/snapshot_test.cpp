// The file-set probes and one look at a folder.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clientdata/folder_fixture.h"
#include "clientdata/snapshot.h"

namespace vorcnt {
namespace {

using testing::Entry;
using testing::ScratchDir;

struct FileSetCase {
  const char* label;
  std::vector<Entry> entries;
  int ext_index;
  int work_unit_status;
  int result_present;
  int outfile_present;
  int state_status;
  int user_info_status;
};

class FileSet : public ::testing::TestWithParam<FileSetCase> {};

TEST_P(FileSet, ReadsPresenceAndStatuses) {
  const FileSetCase& c = GetParam();
  ScratchDir dir;
  testing::lay_out(dir, c.entries);
  ClientSnapshot snap;
  read_snapshot(dir.path().c_str(), snap);
  EXPECT_EQ(snap.ext_index, c.ext_index);
  EXPECT_EQ(snap.work_unit_status, c.work_unit_status);
  EXPECT_EQ(snap.result_present, c.result_present);
  EXPECT_EQ(snap.outfile_present, c.outfile_present);
  EXPECT_EQ(snap.state_status, c.state_status);
  EXPECT_EQ(snap.user_info_status, c.user_info_status);
}

const FileSetCase kFileSets[] = {
    {"Empty", {}, 0, 0, 0, 0, 1, 1},
    {"VersionOnly", {{"version.vwu", ""}}, 1, 0, 0, 0, 1, 1},
    // The version file switches every probe to ".vwu"; the .txt unit is not seen.
    {"VersionBesideTxtWorkUnit", {{"version.vwu", ""}, {"work_unit.txt", "x"}}, 1, 0, 0, 0, 1, 1},
    {"VersionTxtIsNoVersionFile", {{"version.txt", ""}, {"work_unit.txt", "x"}}, 0, 2, 0, 0, 1, 1},
    {"TxtWorkUnitAndTemp", {{"work_unit.txt", "x"}, {"wtemp.txt", "x"}}, 0, 2, 0, 0, 1, 1},
    {"TxtTempOnly", {{"wtemp.txt", "x"}}, 0, 1, 0, 0, 1, 1},
    {"VwuWorkUnitAndTemp", {{"version.vwu", ""}, {"work_unit.vwu", "x"}, {"wtemp.vwu", "x"}}, 1, 2, 0, 0, 1, 1},
    {"VwuTempOnly", {{"version.vwu", ""}, {"wtemp.vwu", "x"}}, 1, 1, 0, 0, 1, 1},
    {"ResultFolderCountsAsPresent", {{"result.txt/", ""}}, 0, 0, 1, 0, 1, 1},
    {"OutfileOnly", {{"outfile.txt", ""}}, 0, 0, 0, 1, 1, 1},
    {"NoMixingOfSets", {{"version.vwu", ""}, {"result.txt", "r"}, {"outfile.txt", ""}, {"state.txt", "prog=1\n"}},
     1, 0, 0, 0, 1, 1},
    {"StateAndUserInfoRead",
     {{"work_unit.txt", "x"}, {"state.txt", "prog=0.5\n"}, {"user_info.txt", "nwus=3\n"}},
     0, 2, 0, 0, 2, 0},
    {"VwuStateAndUserInfoRead",
     {{"version.vwu", ""}, {"state.vwu", "cpu=1\n"}, {"user_info.vwu", "id=9\n"}},
     1, 0, 0, 0, 0, 1},
};

INSTANTIATE_TEST_SUITE_P(Snapshot, FileSet, ::testing::ValuesIn(kFileSets),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(Snapshot, MissingFolderReadsAsEmpty) {
  ScratchDir dir;
  const std::string folder = dir.path() + "no-such-folder/";
  ClientSnapshot snap;
  snap.cpu = 5;
  snap.prog = 0.5;
  read_snapshot(folder.c_str(), snap);
  EXPECT_EQ(snap.ext_index, 0);
  EXPECT_EQ(snap.work_unit_status, 0);
  EXPECT_EQ(snap.result_present, 0);
  EXPECT_EQ(snap.outfile_present, 0);
  EXPECT_EQ(snap.state_status, 1);
  EXPECT_EQ(snap.user_info_status, 1);
  EXPECT_EQ(snap.cpu, 0.0);
  EXPECT_EQ(snap.prog, 0.0);
}

TEST(Snapshot, FolderTextEndingInBackslash) {
  ScratchDir dir;
  testing::lay_out(dir, {{"version.vwu", ""}, {"work_unit.vwu", "x"}, {"state.vwu", "prog=0.5\n"}});
  std::string folder = dir.path();
  folder.back() = '\\';
  ClientSnapshot snap;
  read_snapshot(folder.c_str(), snap);
  EXPECT_EQ(snap.ext_index, 1);
  EXPECT_EQ(snap.work_unit_status, 2);
  EXPECT_EQ(snap.state_status, 2);
  EXPECT_EQ(snap.prog, 0.5);
}

// A record reused for a second folder keeps what the second folder's files do
// not mention; only cpu and prog are cleared on every look.
TEST(Snapshot, ReusedRecordCarriesOverValuesTheSecondFolderLacks) {
  ScratchDir first;
  ScratchDir second;
  ScratchDir third;
  testing::lay_out(first, {{"state.txt", "bs_score=7\ncpu=100\nprog=0.9\nbg_pot=5,2.5\n"},
                           {"user_info.txt", "id=1\nname=First Team\nnwus=4\n"}});
  testing::lay_out(second, {{"state.txt", "prog=0.25\n"}});

  ClientSnapshot snap;
  read_snapshot(first.path().c_str(), snap);
  ASSERT_EQ(snap.bs_score, 7.0);
  read_snapshot(second.path().c_str(), snap);
  EXPECT_EQ(snap.bs_score, 7.0);
  EXPECT_EQ(snap.bg_pot[5], 2.5);
  EXPECT_EQ(snap.cpu, 0.0);
  EXPECT_EQ(snap.prog, 0.25);
  EXPECT_STREQ(snap.name, "First Team");
  EXPECT_STREQ(snap.id, "1");
  EXPECT_EQ(snap.nwus, 4);

  read_snapshot(third.path().c_str(), snap);
  EXPECT_EQ(snap.prog, 0.0);
  EXPECT_EQ(snap.bs_score, 7.0);
  EXPECT_EQ(snap.state_status, 1);
}

TEST(Snapshot, ClearProgressTouchesOnlyCpuAndProg) {
  ClientSnapshot snap;
  snap.cpu = 1;
  snap.prog = 2;
  snap.ncfft = 3;
  snap.state_status = 2;
  clear_progress(snap);
  EXPECT_EQ(snap.cpu, 0.0);
  EXPECT_EQ(snap.prog, 0.0);
  EXPECT_EQ(snap.ncfft, 3.0);
  EXPECT_EQ(snap.state_status, 2);
}

// Names are folder text + file name. Pads the folder text with "./" so that
// folder + `file` is exactly `length` characters long (the scratch path is
// short enough on every test machine).
std::string padded_folder(const ScratchDir& dir, const std::string& file, std::size_t length) {
  std::string folder = dir.path();
  const std::size_t fixed = folder.size() + file.size();
  if (fixed > length) return {};
  std::size_t pad = length - fixed;
  if (pad % 2 == 1) {
    folder += "/";  // a doubled separator keeps the same folder
    --pad;
  }
  for (; pad > 0; pad -= 2) folder += "./";
  return folder;
}

TEST(Snapshot, NameOf255CharactersIsProbedAndLongerCountsAsAbsent) {
  ScratchDir dir;
  testing::lay_out(dir, {{"result.txt", "r"}, {"work_unit.txt", "w"}, {"state.txt", "prog=0.5\n"}});

  const std::string fits = padded_folder(dir, "result.txt", 255);
  ASSERT_FALSE(fits.empty());
  EXPECT_EQ(probe_result(fits.c_str(), 0), 1);

  const std::string too_long = padded_folder(dir, "result.txt", 256);
  ASSERT_EQ(too_long.size() + 10, 256u);
  EXPECT_EQ(probe_result(too_long.c_str(), 0), 0);

  // "work_unit.txt" and "state.txt" share the fate of their own lengths.
  ClientSnapshot snap;
  const std::string folder = padded_folder(dir, "state.txt", 256);
  read_snapshot(folder.c_str(), snap);
  EXPECT_EQ(snap.state_status, 1);
  EXPECT_EQ(snap.work_unit_status, 0);
  EXPECT_EQ(snap.prog, 0.0);
}

TEST(Snapshot, ProbesTakeTheExtensionTheyAreGiven) {
  ScratchDir dir;
  testing::lay_out(dir, {{"work_unit.vwu", "w"}, {"wtemp.txt", "t"}, {"outfile.vwu", ""}, {"result.txt", "r"}});
  const char* folder = dir.path().c_str();
  EXPECT_EQ(probe_work_unit(folder, 1), 2);
  EXPECT_EQ(probe_work_unit(folder, 0), 1);
  EXPECT_EQ(probe_outfile(folder, 1), 1);
  EXPECT_EQ(probe_outfile(folder, 0), 0);
  EXPECT_EQ(probe_result(folder, 0), 1);
  EXPECT_EQ(probe_result(folder, 1), 0);
  EXPECT_STREQ(kExtensions[0], ".txt");
  EXPECT_STREQ(kExtensions[1], ".vwu");
}

}  // namespace
}  // namespace vorcnt
