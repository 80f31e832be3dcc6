// The file-set probes and one look at a folder.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "clientdata/folder_fixture.h"
#include "clientdata/snapshot.h"

namespace vorcnt {
namespace {

using testing::ScratchDir;

using Statuses = std::array<std::int32_t, 6>;  // ext, work unit, result, outfile, state, user info

Statuses statuses(const ClientSnapshot& s) {
  return {s.ext_index, s.work_unit_status, s.result_present, s.outfile_present, s.state_status, s.user_info_status};
}

struct FileSetCase {
  const char* label;
  std::vector<testing::Entry> entries;
  Statuses want;
};

class FileSet : public ::testing::TestWithParam<FileSetCase> {};

TEST_P(FileSet, ReadsPresenceAndStatuses) {
  const FileSetCase& c = GetParam();
  ScratchDir dir;
  testing::lay_out(dir, c.entries);
  ClientSnapshot snap;
  read_snapshot(dir.path().c_str(), snap);
  EXPECT_EQ(statuses(snap), c.want);
}

const FileSetCase kFileSets[] = {
    {"Empty", {}, {0, 0, 0, 0, 1, 1}},
    {"VersionOnly", {{"version.vwu", ""}}, {1, 0, 0, 0, 1, 1}},
    // The version file switches every probe to ".vwu"; a .txt work unit is not seen.
    {"VersionBesideTxtWorkUnit", {{"version.vwu", ""}, {"work_unit.txt", "x"}}, {1, 0, 0, 0, 1, 1}},
    {"VersionTxtIsNoVersionFile", {{"version.txt", ""}, {"work_unit.txt", "x"}}, {0, 2, 0, 0, 1, 1}},
    {"TxtWorkUnitAndTemp", {{"work_unit.txt", "x"}, {"wtemp.txt", "x"}}, {0, 2, 0, 0, 1, 1}},
    {"TxtTempOnly", {{"wtemp.txt", "x"}}, {0, 1, 0, 0, 1, 1}},
    {"VwuWorkUnitAndTemp", {{"version.vwu", ""}, {"work_unit.vwu", "x"}, {"wtemp.vwu", "x"}}, {1, 2, 0, 0, 1, 1}},
    {"VwuTempOnly", {{"version.vwu", ""}, {"wtemp.vwu", "x"}}, {1, 1, 0, 0, 1, 1}},
    {"ResultFolderCountsAsPresent", {{"result.txt/", ""}}, {0, 0, 1, 0, 1, 1}},
    {"OutfileOnly", {{"outfile.txt", ""}}, {0, 0, 0, 1, 1, 1}},
    {"NoMixingOfSets", {{"version.vwu", ""}, {"result.txt", "r"}, {"outfile.txt", ""}, {"state.txt", "prog=1\n"}},
     {1, 0, 0, 0, 1, 1}},
    {"TxtReaders", {{"state.txt", "prog=0.5\n"}, {"user_info.txt", "nwus=3\n"}}, {0, 0, 0, 0, 2, 0}},
    {"VwuReaders", {{"version.vwu", ""}, {"state.vwu", "cpu=1\n"}, {"user_info.vwu", "id=9\n"}}, {1, 0, 0, 0, 0, 1}},
};
INSTANTIATE_TEST_SUITE_P(Snapshot, FileSet, ::testing::ValuesIn(kFileSets), testing::kByLabel);

TEST(Snapshot, MissingFolderReadsAsEmptyAndClearsProgress) {
  ScratchDir dir;
  ClientSnapshot snap;
  snap.cpu = 5;
  snap.prog = 0.5;
  snap.ext_index = snap.result_present = 1;
  read_snapshot((dir.path() + "no-such-folder/").c_str(), snap);
  EXPECT_EQ(statuses(snap), (Statuses{0, 0, 0, 0, 1, 1}));
  EXPECT_EQ(snap.cpu, 0.0);
  EXPECT_EQ(snap.prog, 0.0);
}

// A record reused for another folder keeps what that folder's files do not
// mention; only cpu and prog are cleared on every look.
TEST(Snapshot, ReusedRecordCarriesOverValuesTheNextFolderLacks) {
  ScratchDir first, second, third;
  testing::lay_out(first, {{"state.txt", "bs_score=7\ncpu=100\nprog=0.9\nbg_pot=5,2.5\n"},
                           {"user_info.txt", "id=1\nname=First Team\nnwus=4\n"}});
  testing::lay_out(second, {{"state.txt", "prog=0.25\n"}});
  ClientSnapshot snap;
  read_snapshot(first.path().c_str(), snap);
  read_snapshot(second.path().c_str(), snap);
  EXPECT_EQ(snap.bs_score, 7.0);
  EXPECT_EQ(snap.bg_pot[5], 2.5);
  EXPECT_EQ(snap.cpu, 0.0);
  EXPECT_EQ(snap.prog, 0.25);
  EXPECT_STREQ(snap.name, "First Team");
  EXPECT_EQ(snap.nwus, 4);
  read_snapshot(third.path().c_str(), snap);
  EXPECT_EQ(snap.prog, 0.0);
  EXPECT_EQ(snap.bs_score, 7.0);
}

// The folder text padded with "./" so that folder + `file` is `length` long.
std::string padded_folder(const ScratchDir& dir, const std::string& file, std::size_t length) {
  std::string folder = dir.path();
  if ((length - folder.size() - file.size()) % 2 == 1) folder += "/";
  while (folder.size() + file.size() < length) folder += "./";
  return folder;
}

TEST(Snapshot, NameOf255CharactersIsProbedAndLongerCountsAsAbsent) {
  ScratchDir dir;
  testing::lay_out(dir, {{"result.txt", "r"}, {"work_unit.txt", "w"}, {"state.txt", "prog=0.5\n"}});
  EXPECT_EQ(probe_result(padded_folder(dir, "result.txt", 255).c_str(), 0), 1);
  const std::string too_long = padded_folder(dir, "result.txt", 256);
  ASSERT_EQ(too_long.size(), 246u);
  EXPECT_EQ(probe_result(too_long.c_str(), 0), 0);
  ClientSnapshot snap;
  read_snapshot(padded_folder(dir, "state.txt", 256).c_str(), snap);
  EXPECT_EQ(statuses(snap), (Statuses{0, 0, 0, 0, 1, 1}));
}

}  // namespace
}  // namespace vorcnt
