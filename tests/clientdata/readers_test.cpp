// The state and user-info readers: line cutting, key matching, conversions,
// and input that is too long or not text at all.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "clientdata/folder_fixture.h"
#include "clientdata/snapshot.h"

namespace vorcnt {
namespace {

using testing::ScratchDir;

constexpr double kOld = -42.0;

// Value fields hold markers, so a test can tell written fields from untouched ones.
ClientSnapshot marked(int ext_index) {
  ClientSnapshot snap;
  snap.ext_index = ext_index;
  snap.prog = snap.cpu = snap.total_cpu = kOld;
  for (double& v : snap.bg_pot) v = kOld;
  std::strcpy(snap.id, "old-id");
  std::strcpy(snap.name, "old-name");
  snap.nwus = -1;
  return snap;
}

std::int32_t read_state_text(const std::string& contents, ClientSnapshot& snap) {
  ScratchDir dir;
  dir.write(std::string("state") + kExtensions[snap.ext_index], contents);
  return read_state(snap, dir.path().c_str());
}

std::int32_t read_user_info_text(const std::string& contents, ClientSnapshot& snap) {
  ScratchDir dir;
  dir.write(std::string("user_info") + kExtensions[snap.ext_index], contents);
  return read_user_info(snap, dir.path().c_str());
}

struct ProgCase {
  const char* label;
  std::string contents;
  int status;
  double prog, cpu;
};
class StateProg : public ::testing::TestWithParam<ProgCase> {};

TEST_P(StateProg, ReadsProgressAndStatus) {
  const ProgCase& c = GetParam();
  for (int ext : {0, 1}) {
    ClientSnapshot snap = marked(ext);
    EXPECT_EQ(read_state_text(c.contents, snap), c.status);
    EXPECT_EQ(snap.prog, c.prog);
    EXPECT_EQ(snap.cpu, c.cpu);
  }
}

const ProgCase kProgCases[] = {
    {"Plain", "prog=0.25\ncpu=3600\n", 2, 0.25, 3600.0},
    {"SpacesAroundEquals", "prog = 0.25\n", 2, 0.0, kOld},
    {"UpperCaseKeyIsNoKey", "PROG=0.25\n", 0, kOld, kOld},
    {"EmptyValueStillCounts", "prog=\n", 2, 0.0, kOld},
    {"BareKeyWithoutLineEnd", "prog", 2, 0.0, kOld},
    {"LastLineWithoutLineEnd", "cpu=5\nprog=0.5", 2, 0.5, 5.0},
    {"NotANumber", "prog=abc\n", 2, 0.0, kOld},
    {"NoProgLine", "cpu=12\nncfft=4\nbs_score=1\n", 0, kOld, 12.0},
    {"EmptyFile", "", 0, kOld, kOld},
    {"TabAndCommaSeparators", "prog\t0.5\ncpu,7\n", 2, 0.5, 7.0},
    {"LastOfTwoLinesWins", "prog=0.1\nprog=0.75\nfoo=1\n\n", 2, 0.75, kOld},
    {"CrLf", "prog=0.1\r\ncpu=2\r\n", 2, 0.1, 2.0},
    {"CtrlZEndsTheData", "cpu=1\n\x1aprog=0.9\n", 0, kOld, 1.0},
    {"HugeNumbers", "cpu=1e999\nprog=-1e-999\n", 2, 0.0, HUGE_VAL},
};
INSTANTIATE_TEST_SUITE_P(Readers, StateProg, ::testing::ValuesIn(kProgCases), testing::kByLabel);

TEST(StateFile, EveryRealKeyReachesItsField) {
  ClientSnapshot s;
  EXPECT_EQ(read_state_text("ncfft=4\ncr=1\nfl=2\ncpu=3\nprog=0.5\nbs_power=5\nbs_score=6\nbs_bin=7\n"
                            "bs_fft_ind=8\nbs_chirp_rate=9\nbs_fft_len=10\nbg_score=11\nbg_sigma=12\n"
                            "bg_power=13\nbg_true_mean=14\nbg_chisq=15\nbg_bin=16\nbg_fft_ind=17\n"
                            "bg_chirp_rate=18\nbg_fft_len=19\n",
                            s),
            2);
  const double got[] = {s.ncfft,      s.cr,       s.fl,         s.cpu,          s.prog,
                        s.bs_power,   s.bs_score, s.bs_bin,     s.bs_fft_ind,   s.bs_chirp_rate,
                        s.bs_fft_len, s.bg_score, s.bg_sigma,   s.bg_power,     s.bg_true_mean,
                        s.bg_chisq,   s.bg_bin,   s.bg_fft_ind, s.bg_chirp_rate, s.bg_fft_len};
  const double want[] = {4, 1, 2, 3, 0.5, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
  for (std::size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(got[i], want[i]) << "key #" << i;
}

struct BgPotCase {
  const char* label;
  std::string line;
  int entry;  // the entry written, or -1 when the line is skipped
  double value;
};
class StateBgPot : public ::testing::TestWithParam<BgPotCase> {};

TEST_P(StateBgPot, WritesOnlyTheNamedEntry) {
  const BgPotCase& c = GetParam();
  ClientSnapshot snap = marked(1);
  EXPECT_EQ(read_state_text(c.line + "\ncpu=1\n", snap), 0);
  EXPECT_EQ(snap.cpu, 1.0) << "the line after it is still read";
  for (int i = 0; i < 64; ++i) EXPECT_EQ(snap.bg_pot[i], i == c.entry ? c.value : kOld) << "entry " << i;
  EXPECT_STREQ(snap.id, "old-id") << "written past the table";
}

const BgPotCase kBgPotCases[] = {
    {"CommaSeparated", "bg_pot=3,0.75", 3, 0.75},
    {"SpaceSeparated", "bg_pot=3 0.75", 3, 0.75},
    {"FirstEntry", "bg_pot=0,1.5", 0, 1.5},
    {"LastEntry", "bg_pot=63,2", 63, 2.0},
    {"MissingValue", "bg_pot=7", 7, 0.0},
    {"IndexPastTheEnd", "bg_pot=64,1", -1, 0},
    {"IndexSeventy", "bg_pot=70,1", -1, 0},
    {"NegativeIndex", "bg_pot=-5,1", -1, 0},
    {"IndexBeyond32Bits", "bg_pot=99999999999,1", -1, 0},
    {"IndexWrappingBackIntoRange", "bg_pot=4294967299,1", -1, 0},
    {"IndexIsItsLeadingDigits", "bg_pot=1e5,0.75", 1, 0.75},
    {"ExponentIndexNotScaled", "bg_pot=3e9,1", 3, 1.0},
    {"NegativeZeroIndex", "bg_pot=-0,4", 0, 4.0},
    {"OverlongIndexToken", "bg_pot=" + std::string(300, '9') + ",1", -1, 0},
};
INSTANTIATE_TEST_SUITE_P(Readers, StateBgPot, ::testing::ValuesIn(kBgPotCases), testing::kByLabel);

struct TextCase {
  const char* label;
  std::string contents;
  int status;
  const char* (*field)(const ClientSnapshot&);
  std::string expected;
};
class UserInfoText : public ::testing::TestWithParam<TextCase> {};

TEST_P(UserInfoText, StoresTheValue) {
  const TextCase& c = GetParam();
  for (int ext : {0, 1}) {
    ClientSnapshot snap = marked(ext);
    EXPECT_EQ(read_user_info_text(c.contents, snap), c.status);
    EXPECT_EQ(std::string(c.field(snap)), c.expected);
  }
}

const char* id(const ClientSnapshot& s) { return s.id; }
const char* name(const ClientSnapshot& s) { return s.name; }
const char* email(const ClientSnapshot& s) { return s.email_addr; }
const char* venue(const ClientSnapshot& s) { return s.venue; }
const char* country(const ClientSnapshot& s) { return s.country; }
const char* register_time(const ClientSnapshot& s) { return s.register_time; }

const TextCase kTextCases[] = {
    {"IdAlone", "id=12345\n", 1, id, "12345"},
    {"IdAloneKeepsOtherFields", "id=12345\n", 1, name, "old-name"},
    {"EmptyId", "id=\n", 1, id, ""},
    {"UpperCaseKeyIsNoKey", "ID=5\n", 0, id, "old-id"},
    {"NoIdLine", "name=x\nvenue=y\nnwus=1\n", 0, venue, "y"},
    {"NameIsRestOfLine", "name=Team Blue 7\n", 0, name, "Team Blue 7"},
    {"NameKeepsCommasAndEquals", "name=\t A, B = C\n", 0, name, "A, B = C"},
    {"SpaceBeforeEqualsInRestValue", "name = Team\n", 0, name, "= Team"},
    {"EmailIsOneToken", "email_addr=a b\n", 0, email, "a"},
    {"TokenEndsAtEquals", "venue=abc=def\n", 0, venue, "abc"},
    {"SpaceBeforeEqualsEmptiesToken", "country = X\n", 0, country, ""},
    {"RestOfLineWithoutLineEnd", "id=1\nregister_time=12 34", 1, register_time, "12 34"},
    {"Cp932BytesKept", "name=\x8c\x76\x8e\x5a Team\n", 0, name, "\x8c\x76\x8e\x5a Team"},
    {"Cp932TokenKept", "venue=\x93\x8c\x8b\x9e\n", 0, venue, "\x93\x8c\x8b\x9e"},
    {"CrLfLeavesNoCarriageReturn", "name=Team\r\nid=7\r\n", 1, name, "Team"},
    {"CtrlZEndsTheData", "name=Before\n\x1aname=After\nid=1\n", 0, name, "Before"},
    {"LastOfTwoLinesWins", "venue=a\nvenue=b\n", 0, venue, "b"},
};
INSTANTIATE_TEST_SUITE_P(Readers, UserInfoText, ::testing::ValuesIn(kTextCases), testing::kByLabel);

struct NumberCase {
  const char* label;
  std::string contents;
  std::int32_t nwus;
  double total_cpu;
};
class UserInfoNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(UserInfoNumber, ConvertsTheValue) {
  ClientSnapshot snap = marked(0);
  EXPECT_EQ(read_user_info_text(GetParam().contents, snap), 0);
  EXPECT_EQ(snap.nwus, GetParam().nwus);
  EXPECT_EQ(snap.total_cpu, GetParam().total_cpu);
}

const NumberCase kNumberCases[] = {
    {"Plain", "nwus=12\ntotal_cpu=1.5e3\n", 12, 1500.0},
    {"TrailingLetters", "nwus=12abc\n", 12, kOld},
    {"Empty", "nwus=\ntotal_cpu=\n", 0, 0.0},
    {"NotANumber", "nwus=abc\ntotal_cpu=x1\n", 0, 0.0},
    {"Negative", "nwus=-3\ntotal_cpu=-0.5\n", -3, -0.5},
    {"IntegerTooLargeWrapsTo32Bits", "nwus=99999999999\n", 1215752191, kOld},
    {"RealTooLarge", "total_cpu=1e999\n", -1, HUGE_VAL},
};
INSTANTIATE_TEST_SUITE_P(Readers, UserInfoNumber, ::testing::ValuesIn(kNumberCases), testing::kByLabel);

TEST(UserInfoFile, EveryKeyReachesItsField) {
  ClientSnapshot s;
  EXPECT_EQ(read_user_info_text("id=1\nkey=k\nemail_addr=e@x\nname=N M\nurl=u\ncountry=c\npostal_code=p\n"
                                "show_name=sn\nshow_email=se\nvenue=v\nregister_time=r t\nlast_wu_time=w t\n"
                                "last_result_time=l t\nnwus=2\nnresults=3\ntotal_cpu=4.5\nparams_index=6\n",
                                s),
            1);
  const std::string got[] = {s.id,         s.key,   s.email_addr,    s.name,         s.url,
                             s.country,    s.postal_code, s.show_name, s.show_email, s.venue,
                             s.register_time, s.last_wu_time, s.last_result_time};
  const std::string want[] = {"1", "k", "e@x", "N M", "u", "c", "p", "sn", "se", "v", "r t", "w t", "l t"};
  for (std::size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(got[i], want[i]) << "key #" << i;
  EXPECT_EQ(s.nwus, 2);
  EXPECT_EQ(s.nresults, 3);
  EXPECT_EQ(s.total_cpu, 4.5);
  EXPECT_EQ(s.params_index, 6);
}

TEST(Readers, MissingFilesGiveOneAndChangeNothing) {
  ScratchDir dir;
  // The other set's files are not ours.
  testing::lay_out(dir, {{"user_info.txt", "id=9\n"}, {"state.txt", "prog=0.5\n"}});
  ClientSnapshot snap = marked(1);
  EXPECT_EQ(read_user_info(snap, dir.path().c_str()), 1);
  EXPECT_EQ(read_state(snap, dir.path().c_str()), 1);
  EXPECT_STREQ(snap.id, "old-id");
  EXPECT_EQ(snap.prog, kOld);
}

TEST(OverlongInput, TokensAreCutAt31AndTheNextLineIsStillRead) {
  ClientSnapshot snap = marked(0);
  const std::string text = "venue=" + std::string(10000, 'a') + "\nid=" + std::string(10000, 'b') +
                           "\nshow_name=" + std::string(40, 'c') + "\nnwus=5\n";
  EXPECT_EQ(read_user_info_text(text, snap), 1);
  EXPECT_EQ(std::string(snap.venue), std::string(31, 'a'));
  EXPECT_EQ(std::string(snap.id), std::string(31, 'b'));
  EXPECT_EQ(std::string(snap.show_name), std::string(31, 'c'));
  EXPECT_EQ(snap.nwus, 5);
  // Cut to 31 characters, a key that starts with a real key still is not it.
  EXPECT_EQ(read_user_info_text("id" + std::string(10000, 'x') + "=1\n", snap), 0);
  EXPECT_EQ(read_state_text("prog" + std::string(40, 'x') + "=1\n", snap), 0);
  EXPECT_EQ(read_state_text("prog=" + std::string(10000, '1') + "\ncpu=2\n", snap), 2);
  EXPECT_DOUBLE_EQ(snap.prog, 1111111111111111111111111111111.0);  // the 31 characters kept
  EXPECT_EQ(snap.cpu, 2.0);
}

TEST(OverlongInput, LongLinesAreReadIn254BytePieces) {
  ClientSnapshot snap = marked(0);
  // "name=" and 249 characters of the value fill the first piece.
  EXPECT_EQ(read_user_info_text("name=" + std::string(600, 'n') + "\nvenue=v\n", snap), 0);
  EXPECT_EQ(std::string(snap.name), std::string(249, 'n'));
  EXPECT_STREQ(snap.venue, "v");
  // The piece after 254 bytes is a line of its own, even if it looks like a key...
  EXPECT_EQ(read_user_info_text(std::string(254, '#') + "id=9\n", snap), 1);
  EXPECT_STREQ(snap.id, "9");
  EXPECT_EQ(read_state_text(std::string(254, '#') + "prog=0.5\n", snap), 2);
  EXPECT_EQ(snap.prog, 0.5);
  // ...and one byte shorter the key is split across two pieces.
  EXPECT_EQ(read_state_text(std::string(253, '#') + "prog=0.7\n", snap), 0);
  EXPECT_EQ(snap.prog, 0.5);
}

TEST(OverlongInput, NoiseAndLongValuesStayInBounds) {
  std::mt19937 rng(20240601);
  std::vector<std::string> inputs;
  for (int round = 0; round < 20; ++round) {
    std::string noise(16384, '\0');
    for (char& c : noise) c = static_cast<char>(rng());
    for (const char* key : {"name=", "id=", "show_email=", "bg_pot=", "prog=", "last_wu_time\t"})
      noise.insert(rng() % noise.size(), key);
    inputs.push_back(noise);
  }
  std::string every_key_long;
  for (const char* key : {"id", "key", "email_addr", "name", "url", "country", "postal_code", "show_name",
                          "show_email", "venue", "register_time", "last_wu_time", "last_result_time", "nwus"})
    every_key_long += std::string(key) + "=" + std::string(10000, 'v') + "\n";
  inputs.push_back(every_key_long);

  for (const std::string& input : inputs) {
    ClientSnapshot s;
    EXPECT_LE(read_user_info_text(input, s), 1);
    EXPECT_NE(read_state_text(input, s), 1);
    for (const char* field : {s.id, s.key, s.email_addr, s.name, s.url, s.country, s.postal_code, s.venue,
                              s.register_time, s.last_wu_time, s.last_result_time})
      EXPECT_LT(::strnlen(field, 255), 255u);
    EXPECT_LT(::strnlen(s.show_name, 32), 32u);
    EXPECT_LT(::strnlen(s.show_email, 32), 32u);
  }
}

}  // namespace
}  // namespace vorcnt
