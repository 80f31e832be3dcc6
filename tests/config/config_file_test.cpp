#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "config/settings_encoding.h"
#include "config/settings_view.h"
#include "support/scratch.h"

namespace vorcnt {
namespace {

using testing::ScratchDir;
using testing::Settings;

struct ConfigRow {
  const char* name;
  std::optional<std::string> file;  // none: there is no vorcnt.cfg
  std::string output;
  Settings expect;
};

// vorcnt.cfg is read from the current folder, so each test runs inside its
// own scratch folder and puts the old one back afterwards.
class ConfigFileLines : public ::testing::TestWithParam<ConfigRow> {
 protected:
  void SetUp() override {
    saved_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(saved_); }

  ScratchDir dir_;

 private:
  std::filesystem::path saved_;
};

TEST_P(ConfigFileLines, Apply) {
  const ConfigRow& row = GetParam();
  if (row.file) dir_.write("vorcnt.cfg", *row.file);
  // Every setting starts away from its default, so the reader has to set the defaults.
  ControllerContext ctx;
  std::strcpy(ctx.path, "keep/");
  std::strcpy(ctx.execfinish, "old\n");
  ctx.mode = Mode_error, ctx.fill = 2, ctx.units = 9, ctx.time = 500, ctx.prog = 1, ctx.autofill = 1;
  ctx.vorcnt_state = Vorcon_ConnectCompletion;
  SettingsNotes notes;
  read_config_file(ctx, notes);
  EXPECT_EQ(notes.text(), row.output);
  EXPECT_EQ(testing::settings_of(ctx), row.expect);
}

const std::string kPathRefused = "bad arg: path longer than 118 characters\n";

// `text` as an editor saves it as "Unicode": UTF-16 with its byte-order mark.
std::string utf16(std::u16string_view text, bool little_endian) {
  std::string bytes;
  for (char16_t unit : u"\uFEFF" + std::u16string(text)) {
    const char lo = static_cast<char>(unit & 0xFF), hi = static_cast<char>(unit >> 8);
    bytes += little_endian ? lo : hi;
    bytes += little_endian ? hi : lo;
  }
  return bytes;
}

std::string repeated(std::string_view text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

std::vector<ConfigRow> config_rows() {
  const std::string a118(118 - 4, 'a'), a119(119 - 4, 'a');
  return {
      {"missing_file", std::nullopt, "vorcnt.cfg open error!\n", {}},
      {"empty", "", "", {}},
      {"comments_and_blank_lines", "# note\n;note\n//note\n \t# x\n,,;x\n\n   \n/x\n", "", {}},
      {"help", "HELP\n", "", {.mode = Mode_help}},
      {"version_lower_case", "version\n", "", {.mode = Mode_verinfo}},
      {"fill_ignores_its_value", "FILL = OFF\n", "", {.mode = Mode_fill, .fill = 1, .state = Vorcon_CalcCompletion}},
      {"autofill_and_prog", "AUTOFILL\n PROG\n", "", {.prog = 1, .autofill = 1}},
      {"exec_blank_refused", "EXEC = c:\\Program Files\\vorelith\\\n",
       "bad arg: path holds a blank\nEXEC \"c:\\Program Files\\vorelith\\\" holds a blank: give a path without one, such as a link made with ln -s '/path/with a blank' /path/without\n",
       {.mode = Mode_error}},
      {"exec_dollar_refused", "EXEC = /w/a$(touch X)b/\n",
       "bad arg: path holds the character $, which the command interpreter reads specially\n", {.mode = Mode_error}},
      {"exec_quote_refused", "EXEC = /w/it's/\n",
       "bad arg: path holds the character ', which the command interpreter reads specially\n", {.mode = Mode_error}},
      {"exec_cut_after_last_separator", "EXEC = c:\\vorelith\n", "", {.path = "c:\\"}},
      {"exec_slashes", "EXEC=d:/work/vorelith/\n", "", {.path = "d:/work/vorelith/"}},
      {"exec_no_separator_refused", "EXEC = vorelith\n",
       "bad arg: EXEC names no folder: end the client folder with a folder separator\n",
       {.mode = Mode_error}},
      {"exec_empty_refused", "EXEC =\n", "bad arg: EXEC names no folder: end the client folder with a folder separator\n",
       {.mode = Mode_error}},
      {"byte_order_mark_before_first_keyword", "\xEF\xBB\xBFUNITS = 4\r\nPROG\n", "", {.units = 4, .prog = 1}},
      // UTF-16 is read as the UTF-8 it stands for; a file with a line that
      // has no UTF-8 form is refused whole, naming the encoding.
      {"utf16_little_endian", utf16(u"UNITS = 4\r\nEXEC = /srv/\u30F4\u30A9/\r\nPROG", true), "",
       {.path = "/srv/\xE3\x83\xB4\xE3\x82\xA9/", .units = 4, .prog = 1}},
      {"utf16_big_endian", utf16(u"UNITS = 3\n\U0001F600 = x\n", false), "bad arg:  = x\n\n",
       {.mode = Mode_error, .units = 3}},
      {"utf16_unpaired_surrogate_refused", utf16(u"PROG\nEXEC = /a\xD800/\n", true),
       "vorcnt.cfg is saved as UTF-16 (little-endian) and its line 2 has no UTF-8 form: save it as UTF-8; none of "
       "its settings are used\n",
       {.mode = Mode_error}},
      // A comment applies nothing: one with no local form passes.
      {"utf16_comment_without_form_passes", utf16(u" # a\xD800\nPROG\n;\xDC00", true), "", {.prog = 1}},
      {"utf16_cut_off_refused", utf16(u"PROG\n", false) + std::string(1, '\0'),
       "vorcnt.cfg is saved as UTF-16 (big-endian) and its line 2 has no UTF-8 form: save it as UTF-8; none of "
       "its settings are used\n",
       {.mode = Mode_error}},
      // UTF-8, with a mark or without one, is read as the text it stands for;
      // Japanese text in CP932 is never valid UTF-8 and is read as it stands.
      {"utf8_without_mark", "EXEC = /srv/ボランティア/client/\nUNITS = 3\n", "",
       {.path = "/srv/ボランティア/client/", .units = 3}},
      {"utf8_with_mark", "\xEF\xBB\xBF# 設定\r\nEXEC = /srv/データ/\r\n", "", {.path = "/srv/データ/"}},
      {"cp932_read_as_it_stands", "# \x90\xdd\x92\xe8\nEXECFINISH = echo \x83\x7b\x83\x89\x83\x93\n", "",
       {.execfinish = "echo \x83\x7b\x83\x89\x83\x93\n"}},
      {"cesu8_pair_after_utf8_read_as_it_stands", "# \xc3\xa9\nEXECFINISH = echo \xed\xa0\xbd\xed\xb8\x80\n", "",
       {.execfinish = "echo \xed\xa0\xbd\xed\xb8\x80\n"}},
      {"utf8_mark_line_not_utf8_refused", "\xEF\xBB\xBFPROG\nEXECFINISH = \x83\x7b\n",
       "vorcnt.cfg starts with a UTF-8 byte-order mark but its line 2 is not UTF-8: save it as UTF-8; none of its "
       "settings are used\n",
       {.mode = Mode_error}},
      {"utf8_mark_over_1_mib_refused", "\xEF\xBB\xBF" + std::string(1 << 20, '#'),
       "vorcnt.cfg is saved as UTF-8 (with a byte-order mark) and is over 1 MiB: save it as UTF-8; none of its "
       "settings are used\n",
       {.mode = Mode_error}},
      // The 254-byte pieces are taken from the converted text, the mark not counted.
      {"utf8_long_comment_second_piece", "\xEF\xBB\xBF#" + repeated("ア", 100) + "\nPROG\n",
       "bad arg: \n\n", {.mode = Mode_error, .prog = 1}},
      {"exec_trailing_words_dropped", "EXEC = c:\\vorelith\\ more words\n", "", {.path = "c:\\vorelith\\"}},
      {"exec_without_equals", "EXEC c:\\x\\\n", "bad arg: path = c:\\progra~1\\vorelith\\\n", {.mode = Mode_error}},
      {"exec_118_accepted", "EXEC = c:\\" + a118 + "\\\n", "", {.path = "c:\\" + a118 + "\\"}},
      {"exec_119_refused", "EXEC = c:\\" + a119 + "\\\n", kPathRefused, {.mode = Mode_error}},
      {"exec_200_byte_line", "EXEC = c:\\" + std::string(190, 'a') + "\\\n", kPathRefused, {.mode = Mode_error}},
      {"units_16", "UNITS=16\n", "", {.units = 16}},
      {"units_lower_case", "units = 4\n", "", {.units = 4}},
      {"units_commas_are_blanks", "UNITS,=,4\n", "", {.units = 4}},
      {"units_minus_read_as_digits", "UNITS = -3\n", "", {.units = 3}},
      {"units_17", "UNITS = 17\n", "vorcnt.cfg bad arg: units = 17\n", {.mode = Mode_error, .units = 0}},
      {"units_no_digits", "UNITS = none\n", "vorcnt.cfg bad arg: units = \n", {.mode = Mode_error, .units = 0}},
      {"units_without_equals", "UNITS 4\n", "vorcnt.cfg bad arg: units = N\n", {.mode = Mode_error, .units = 0}},
      {"units_digit_run_wraps", "UNITS = 4294967301\n", "", {.units = 5}},
      {"time_below_range", "TIME = 60\n", "", {}},
      {"time_top", "TIME = 36000\n", "", {.time = 36000}},
      {"time_above_range", "TIME = 300\nTIME = 36001\n", "", {}},
      {"time_without_equals", "TIME = 300\nTIME 300\n", "bad arg: -time N\n", {.mode = Mode_error}},
      {"execfinish_keeps_line_end", "EXECFINISH = shutdown -s\n", "", {.execfinish = "shutdown -s\n"}},
      {"execfinish_last_line_unended", "EXECFINISH = halt", "", {.execfinish = "halt"}},
      {"execfinish_without_equals", "EXECFINISH = a\nEXECFINISH b\n", "bad arg: -execfinish N\n",
       {.execfinish = "a\n", .mode = Mode_error}},
      {"unknown_shows_rest_of_line", "FOO = 1\n", "bad arg:  = 1\n\n", {.mode = Mode_error}},
      {"later_mode_wins_over_error", "FOO\nUNITS = 17\nHELP\n", "bad arg: \n\nvorcnt.cfg bad arg: units = 17\n",
       {.mode = Mode_help, .units = 0}},
      {"crlf_line_ends", "UNITS = 5\r\nEXEC = c:\\v\\\r\nEXECFINISH = cmd /c x\r\n", "",
       {.path = "c:\\v\\", .execfinish = "cmd /c x\n", .units = 5}},
      {"ctrl_z_ends_file", "UNITS = 5\n\x1aUNITS = 7\nHELP\n", "", {.units = 5}},
      {"ctrl_z_inside_line", "PROG\x1a\nHELP\n", "", {.prog = 1}},
      // A long line comes in pieces of 254 bytes, each read as a line.
      {"long_comment_second_piece", "#" + std::string(299, 'x') + "\n", "bad arg: \n\n", {.mode = Mode_error}},
      {"long_exec_line_tail_is_a_line", "EXEC = c:\\v\\" + std::string(242, ' ') + "HELP\n", "",
       {.path = "c:\\v\\", .mode = Mode_help}},
      {"long_exec_line_cut_at_its_last_separator", "EXEC = c:\\" + std::string(250, 'a') + "\\\nPROG\n",
       "bad arg: \n\n", {.path = "c:\\", .mode = Mode_error, .prog = 1}},
      {"long_execfinish_cut_tail_refused", "EXECFINISH = " + std::string(246, 'a') + "\n", "bad arg: \n\n",
       {.execfinish = std::string(241, 'a'), .mode = Mode_error}},
      {"execfinish_line_of_254_loses_its_line_end", "EXECFINISH = " + std::string(241, 'a') + "\n", "",
       {.execfinish = std::string(241, 'a')}},
      // A NUL byte does not quietly end a line.
      {"nul_inside_a_line", std::string("PROG\nEXEC = c:\\v\\") + '\0' + "x\\\n#" + '\0' + "c\n", "bad arg:  = c:\\v\\\n",
       {.mode = Mode_error, .prog = 1}},
      {"nul_before_a_keyword", std::string(1, '\0') + "HELP\n", "bad arg: \n", {.mode = Mode_error}},
      // The opt-in settings. A bad window is reported and the run goes on
      // without one: a typo must not stop the buffer.
      {"connect_history_execempty", "CONNECT = 23:00-08:00\nHISTORY = units.log \r\nEXECEMPTY = beep -f 2\n", "",
       {.connect = "23:00-08:00", .history = "units.log", .execempty = "beep -f 2"}},
      {"connect_bad_value_goes_on", "CONNECT = 24:00-08:00\nPROG\n",
       "connect window ignored: '24:00-08:00' is not HH:MM-HH:MM; connecting at any time\n", {.prog = 1}},
      {"connect_without_equals", "CONNECT 23:00-08:00\n",
       "connect window ignored: write it as CONNECT = HH:MM-HH:MM; connecting at any time\n", {}},
      {"stall_set_and_bounds", "STALL = 100000\nstall=1 \r\n", "", {.stall = 1}},
      {"stall_bad_values_go_on", "STALL = 120\nSTALL = 100001\nPROG\nSTALL = -5\n",
       "stall watch ignored: '100001' is not a number of minutes from 1 to 100000; the client is never restarted\n"
       "stall watch ignored: '-5' is not a number of minutes from 1 to 100000; the client is never restarted\n",
       {.prog = 1}},
      {"nowork_set_bad_and_bounds", "nowork=1 \r\nNOWORK = 0\nNOWORK 5\nNOWORK = 100000\n",
       "no-work limit ignored: '0' is not a number of minutes from 1 to 100000; a connection waits for work as long "
       "as it takes\nno-work limit ignored: write it as NOWORK = MINUTES; a connection waits for work as long as it "
       "takes\n",
       {.nowork = 100000}},
      {"stall_without_equals", "STALL 30\n",
       "stall watch ignored: write it as STALL = MINUTES; the client is never restarted\n", {}},
      {"stall_long_line_goes_on", "STALL = 30" + std::string(300, '0') + "\n",
       "stall watch ignored: '(a line longer than 254 characters)' is not a number of minutes from 1 to 100000; the "
       "client is never restarted\nbad arg: \n\n", {.mode = Mode_error}},
      // A cut command would be another one; the line's tail is read as a line.
      {"execempty_long_line_refused", "EXECEMPTY = a\nEXECEMPTY = " + std::string(300, 'x') + "\n",
       "bad arg: execempty longer than 254 characters\nbad arg: \n\n", {.mode = Mode_error, .execempty = "a"}},
      {"history_with_a_nul_refused", std::string("HISTORY = a") + '\0' + "b\n", "bad arg:  = a\n",
       {.mode = Mode_error}},
      {"log_set", "LOG = vorcnt.log \r\n", "", {.log = "vorcnt.log"}},
      {"log_without_equals", "LOG vorcnt.log\n", "bad arg: LOG = FILE\n", {.mode = Mode_error}},
      {"execempty_without_equals", "EXECEMPTY beep\n", "bad arg: EXECEMPTY = COMMAND\n", {.mode = Mode_error}},
  };
}

// A file without a mark is UTF-8 only when its bytes above 0x7F all form
// strict UTF-8. CP932 Japanese almost never does: a run of kana or common
// kanji starts with a byte 0x81-0x9F, which UTF-8 never starts a character
// with. Two half-width katakana can (ﾃｨ is C3 A8, è).
TEST(LooksLikeUtf8, Table) {
  const std::pair<std::string_view, bool> rows[] = {
      {"EXEC = C:\\vorelith\\", false},                    // ASCII alone: as it stands
      {"C:\\ボランティア\\client\\", true},
      {"\x83\x7b\x83\x89\x83\x93\x83\x65\x83\x42\x83\x41", false},  // ボランティア in CP932
      {"\x83\x66\x81\x5b\x83\x5e", false},                    // データ
      {"\x8c\x76\x8e\x5a\x92\x86", false},                    // 計算中
      {"\x93\x8c\x8b\x9e\x93\x73", false},                    // 東京都
      {"\xce\xde\xd7\xdd\xc3\xa8\xb1", false},                // ﾎﾞﾗﾝﾃｨｱ
      {"\xc3\xa8", true},                                    // ﾃｨ, the rare ambiguous case
      // Not UTF-8 by the table of RFC 3629, each after a valid character,
      // so that the whole file is at stake: overlong forms of every length,
      // surrogates alone or paired (CESU-8), past U+10FFFF, a lone
      // continuation byte, a lead byte that has none.
      {"\xc0\xaf", false},
      {"\xc3\xa9\xc1\xbf", false},
      {"\xc3\xa9\xe0\x80\xaf", false},
      {"\xc3\xa9\xe0\x9f\xbf", false},
      {"\xc3\xa9\xf0\x80\x80\xaf", false},
      {"\xc3\xa9\xf0\x8f\xbf\xbf", false},
      {"\xc3\xa9\xed\xa0\x80", false},
      {"\xc3\xa9\xed\xa0\xbd\xed\xb8\x80", false},
      {"\xc3\xa9\xf4\x90\x80\x80", false},
      {"\xc3\xa9\xf5\x80\x80\x80", false},
      {"\xc3\xa9\xf8\x88\x80\x80\x80", false},
      {"\xc3\xa9\x80", false},
      {"\xc3\xa9 \xbf ", false},
      {"\xc3\xa9\xe3\x82", false},
      {"\xc3\xa9\xe3\x82\x41", false},
      // The edges of the table are UTF-8.
      {"\xc2\x80\xdf\xbf\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbf", true},
      {"\xf0\x90\x80\x80\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf", true},
  };
  for (const auto& [bytes, utf8] : rows) EXPECT_EQ(looks_like_utf8(bytes), utf8) << bytes;
}

INSTANTIATE_TEST_SUITE_P(ConfigFile, ConfigFileLines, ::testing::ValuesIn(config_rows()),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace vorcnt
