// The state and user-info readers: line cutting, key matching, conversions,
// and input that is too long or not text at all.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "clientdata/folder_fixture.h"
#include "clientdata/snapshot.h"
#include "platform/files.h"

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

using Reader = std::int32_t (*)(ClientSnapshot&, const char*);

// Writes `contents` as the reader's file of the snapshot's set and reads it.
std::int32_t read_text(Reader reader, const std::string& contents, ClientSnapshot& snap) {
  ScratchDir dir;
  dir.write((reader == read_state ? "state" : "user_info") + std::string(kExtensions[snap.ext_index]), contents);
  return reader(snap, dir.path().c_str());
}

// For the state file the two numbers are prog and cpu; for user info, nwus and total_cpu.
struct NumberCase {
  const char* label;
  Reader reader;
  std::string contents;
  int status;
  double first, second;
};
class Numbers : public ::testing::TestWithParam<NumberCase> {};

TEST_P(Numbers, ConvertsTheValuesAndGivesTheStatus) {
  const NumberCase& c = GetParam();
  for (int ext : {0, 1}) {
    ClientSnapshot snap = marked(ext);
    EXPECT_EQ(read_text(c.reader, c.contents, snap), c.status);
    const bool state = c.reader == read_state;
    EXPECT_EQ(state ? snap.prog : snap.nwus, c.first);
    EXPECT_EQ(state ? snap.cpu : snap.total_cpu, c.second);
  }
  if (c.reader != read_state) return;
  // Each poll reads the progress alone; it must read it the same way.
  ClientSnapshot fast = marked(1);
  TextReader reader;
  reader.open_memory(c.contents.data(), c.contents.size());
  EXPECT_EQ(read_progress_lines(fast, reader), c.status);
  EXPECT_EQ(fast.prog, c.first);
}

const NumberCase kNumberCases[] = {
    {"State_Plain", read_state, "prog=0.25\ncpu=3600\n", 2, 0.25, 3600.0},
    {"State_SpacesAroundEquals", read_state, "prog = 0.25\n", 2, 0.0, kOld},
    {"State_UpperCaseKeyIsNoKey", read_state, "PROG=0.25\n", 0, kOld, kOld},
    {"State_LongerKeyIsNoKey", read_state, "  prog,0.5\nprogress=0.25\n", 2, 0.5, kOld},
    {"State_EmptyValueStillCounts", read_state, "prog=\n", 2, 0.0, kOld},
    {"State_BareKeyWithoutLineEnd", read_state, "prog", 2, 0.0, kOld},
    {"State_LastLineWithoutLineEnd", read_state, "cpu=5\nprog=0.5", 2, 0.5, 5.0},
    {"State_NotANumber", read_state, "prog=abc\n", 2, 0.0, kOld},
    {"State_NoProgLine", read_state, "cpu=12\nncfft=4\nbs_score=1\n", 0, kOld, 12.0},
    {"State_EmptyFile", read_state, "", 0, kOld, kOld},
    {"State_TabAndCommaSeparators", read_state, "prog\t0.5\ncpu,7\n", 2, 0.5, 7.0},
    {"State_LastOfTwoLinesWins", read_state, "prog=0.1\nprog=0.75\nfoo=1\n\n", 2, 0.75, kOld},
    {"State_CrLf", read_state, "prog=0.1\r\ncpu=2\r\n", 2, 0.1, 2.0},
    {"State_CtrlZEndsTheData", read_state, "cpu=1\n\x1aprog=0.9\n", 0, kOld, 1.0},
    {"State_HugeNumbers", read_state, "cpu=1e999\nprog=-1e-999\n", 2, 0.0, HUGE_VAL},
    {"UserInfo_Plain", read_user_info, "nwus=12\ntotal_cpu=1.5e3\n", 0, 12, 1500.0},
    {"UserInfo_TrailingLetters", read_user_info, "nwus=12abc\n", 0, 12, kOld},
    {"UserInfo_Empty", read_user_info, "nwus=\ntotal_cpu=\n", 0, 0, 0.0},
    {"UserInfo_NotANumber", read_user_info, "nwus=abc\ntotal_cpu=x1\n", 0, 0, 0.0},
    {"UserInfo_Negative", read_user_info, "nwus=-3\ntotal_cpu=-0.5\n", 0, -3, -0.5},
    {"UserInfo_IntegerTooLargeWrapsTo32Bits", read_user_info, "nwus=99999999999\n", 0, 1215752191, kOld},
    {"UserInfo_RealTooLarge", read_user_info, "total_cpu=1e999\n", 0, -1, HUGE_VAL},
};
INSTANTIATE_TEST_SUITE_P(Readers, Numbers, ::testing::ValuesIn(kNumberCases), testing::kByLabel);

TEST(Readers, EveryKeyReachesItsField) {
  ClientSnapshot s;
  EXPECT_EQ(read_text(read_state,
                      "ncfft=4\ncr=1\nfl=2\ncpu=3\nprog=0.5\nbs_power=5\nbs_score=6\nbs_bin=7\nbs_fft_ind=8\n"
                      "bs_chirp_rate=9\nbs_fft_len=10\nbg_score=11\nbg_sigma=12\nbg_power=13\nbg_true_mean=14\n"
                      "bg_chisq=15\nbg_bin=16\nbg_fft_ind=17\nbg_chirp_rate=18\nbg_fft_len=19\n",
                      s),
            2);
  const double got[] = {s.ncfft,      s.cr,       s.fl,         s.cpu,          s.prog,
                        s.bs_power,   s.bs_score, s.bs_bin,     s.bs_fft_ind,   s.bs_chirp_rate,
                        s.bs_fft_len, s.bg_score, s.bg_sigma,   s.bg_power,     s.bg_true_mean,
                        s.bg_chisq,   s.bg_bin,   s.bg_fft_ind, s.bg_chirp_rate, s.bg_fft_len};
  const double want[] = {4, 1, 2, 3, 0.5, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
  for (std::size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(got[i], want[i]) << "state key #" << i;

  EXPECT_EQ(read_text(read_user_info,
                      "id=1\nkey=k\nemail_addr=e@x\nname=N M\nurl=u\ncountry=c\npostal_code=p\nshow_name=sn\n"
                      "show_email=se\nvenue=v\nregister_time=r t\nlast_wu_time=w t\nlast_result_time=l t\nnwus=2\n"
                      "nresults=3\ntotal_cpu=4.5\nparams_index=6\n",
                      s),
            1);
  const std::string texts[] = {s.id,        s.key,       s.email_addr, s.name,          s.url,
                               s.country,   s.postal_code, s.show_name, s.show_email,    s.venue,
                               s.register_time, s.last_wu_time, s.last_result_time};
  const std::string want_texts[] = {"1", "k", "e@x", "N M", "u", "c", "p", "sn", "se", "v", "r t", "w t", "l t"};
  for (std::size_t i = 0; i < std::size(want_texts); ++i) EXPECT_EQ(texts[i], want_texts[i]) << "user key #" << i;
  EXPECT_EQ((std::array{s.nwus, s.nresults, s.params_index}), (std::array{2, 3, 6}));
  EXPECT_EQ(s.total_cpu, 4.5);
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
  EXPECT_EQ(read_text(read_state, c.line + "\ncpu=1\n", snap), 0);
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
    EXPECT_EQ(read_text(read_user_info, c.contents, snap), c.status);
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

TEST(OverlongInput, TokensAreCutAt31AndTheNextLineIsStillRead) {
  ClientSnapshot snap = marked(0);
  const std::string text = "venue=" + std::string(10000, 'a') + "\nid=" + std::string(10000, 'b') +
                           "\nshow_name=" + std::string(40, 'c') + "\nnwus=5\n";
  EXPECT_EQ(read_text(read_user_info, text, snap), 1);
  EXPECT_EQ(std::string(snap.venue), std::string(31, 'a'));
  EXPECT_EQ(std::string(snap.id), std::string(31, 'b'));
  EXPECT_EQ(std::string(snap.show_name), std::string(31, 'c'));
  EXPECT_EQ(snap.nwus, 5);
  // Cut to 31 characters, a key that starts with a real key still is not it.
  EXPECT_EQ(read_text(read_user_info, "id" + std::string(10000, 'x') + "=1\n", snap), 0);
  EXPECT_EQ(read_text(read_state, "prog" + std::string(40, 'x') + "=1\n", snap), 0);
  EXPECT_EQ(read_text(read_state, "prog=" + std::string(10000, '1') + "\ncpu=2\n", snap), 2);
  EXPECT_DOUBLE_EQ(snap.prog, 1111111111111111111111111111111.0);  // the 31 characters kept
  EXPECT_EQ(snap.cpu, 2.0);
}

TEST(OverlongInput, LongLinesAreReadIn254BytePieces) {
  ClientSnapshot snap = marked(0);
  // "name=" and 249 characters of the value fill the first piece.
  EXPECT_EQ(read_text(read_user_info, "name=" + std::string(600, 'n') + "\nvenue=v\n", snap), 0);
  EXPECT_EQ(std::string(snap.name), std::string(249, 'n'));
  EXPECT_STREQ(snap.venue, "v");
  // The piece after 254 bytes is a line of its own, even if it looks like a key...
  EXPECT_EQ(read_text(read_user_info, std::string(254, '#') + "id=9\n", snap), 1);
  EXPECT_STREQ(snap.id, "9");
  EXPECT_EQ(read_text(read_state, std::string(254, '#') + "prog=0.5\n", snap), 2);
  EXPECT_EQ(snap.prog, 0.5);
  // ...and one byte shorter the key is split across two pieces.
  EXPECT_EQ(read_text(read_state, std::string(253, '#') + "prog=0.7\n", snap), 0);
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
    EXPECT_LE(read_text(read_user_info, input, s), 1);
    EXPECT_NE(read_text(read_state, input, s), 1);
    for (const char* field : {s.id, s.key, s.email_addr, s.name, s.url, s.country, s.postal_code, s.venue,
                              s.register_time, s.last_wu_time, s.last_result_time})
      EXPECT_LT(::strnlen(field, 255), 255u);
    EXPECT_LT(::strnlen(s.show_name, 32), 32u);
    EXPECT_LT(::strnlen(s.show_email, 32), 32u);
  }
}

}  // namespace
}  // namespace vorcnt
