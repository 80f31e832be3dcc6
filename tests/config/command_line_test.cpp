#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/settings_view.h"
#include "support/fakes.h"

namespace vorcnt {
namespace {

using testing::Settings;

struct ArgsRow {
  const char* name;
  std::vector<std::string> args;  // without the program name
  std::string output;
  Settings expect;
};

class CommandLineArgs : public ::testing::TestWithParam<ArgsRow> {};

TEST_P(CommandLineArgs, Apply) {
  const ArgsRow& row = GetParam();
  std::vector<std::string> texts{"vorcnt"};
  texts.insert(texts.end(), row.args.begin(), row.args.end());
  std::vector<char*> argv;
  for (auto& t : texts) argv.push_back(t.data());
  argv.push_back(nullptr);

  ControllerContext ctx;
  std::strcpy(ctx.path, "keep/");
  SettingsNotes notes;
  parse_command_line(static_cast<int>(texts.size()), argv.data(), ctx, notes);
  EXPECT_EQ(notes.text(), row.output);
  EXPECT_EQ(testing::settings_of(ctx), row.expect);
}

const std::string kArgRefused = "bad arg: argument longer than 255 characters\n";
const std::string kPathRefused = "bad arg: path longer than 118 characters\n";
const std::string kFinishRefused = "bad arg: execfinish longer than 254 characters\n";

std::vector<ArgsRow> args_rows() {
  const std::string p118 = "/" + std::string(116, 'p') + "/";
  const std::string x255(255, 'x');
  const std::string huge(100 * 1024, 'u');
  const Settings fill_error{.mode = Mode_error, .state = Vorcon_CalcCompletion};
  return {
      {"none", {}, "", {}},
      {"units_dash", {"-units", "4"}, "", {.units = 4}},
      {"units_16", {"-units", "16"}, "", {.units = 16}},
      {"units_slash_upper", {"/UNITS", "4"}, "", {.units = 4}},
      {"units_plain_word", {"units", "4"}, "", {.units = 4}},
      {"units_equals_ignored", {"--units=9", "4"}, "", {.units = 4}},
      {"units_minus_digit", {"-units", "-4"}, "", {.units = 4}},
      {"units_zero_leftover_examined", {"-units", "0"}, "bad arg: -units \nbad arg: \n",
       {.mode = Mode_error, .units = 0}},
      {"units_17x_leftover_examined", {"-units", "17x"}, "bad arg: -units x\nbad arg: x\n",
       {.mode = Mode_error, .units = 0}},
      {"units_leftover_names_option", {"-units", "0prog"}, "bad arg: -units prog\n",
       {.mode = Mode_error, .units = 0, .prog = 1}},
      {"units_last", {"-units"}, "bad arg: -units N\n", {.mode = Mode_error, .units = 0}},
      {"units_equals_is_no_value", {"-units=4"}, "bad arg: -units N\n", {.mode = Mode_error, .units = 0}},
      {"units_wrapping_digits", {"-units", "4294967301"}, "", {.units = 5}},
      {"fill_last", {"-fill"}, "", {.mode = Mode_fill, .fill = 1, .state = Vorcon_CalcCompletion}},
      {"fill_auto", {"-fill", "auto"}, "fill:AUTO\n", {.mode = Mode_fill, .fill = 2, .state = Vorcon_CalcCompletion}},
      {"fill_on_then_off", {"-fill", "On", "-fill", "off"}, "fill:ON\nfill:OFF\n",
       {.mode = Mode_fill, .fill = 0, .state = Vorcon_CalcCompletion}},
      {"fill_dash_on_refused", {"-fill", "-on"}, "fill:-ON\nbad arg: -fill -on\nbad arg: -on\n", fill_error},
      {"fill_value_is_option", {"-fill", "-prog"}, "fill:-PROG\nbad arg: -fill -prog\n",
       {.mode = Mode_error, .prog = 1, .state = Vorcon_CalcCompletion}},
      {"autofill_prog", {"AUTOFILL", "-prog"}, "", {.prog = 1, .autofill = 1}},
      {"time_low_silent", {"-time", "60"}, "", {}},
      {"time_set", {"-time", "300"}, "", {.time = 300}},
      {"time_high", {"-time", "300", "-time", "36001"}, "", {}},
      {"time_no_digits_consumed", {"-time", "-help"}, "", {}},
      {"time_last", {"-time", "300", "-time"}, "bad arg: -time N\n", {.mode = Mode_error}},
      {"exec_unchanged", {"-EXEC", "c:\\VoreLith"}, "", {.path = "c:\\VoreLith"}},
      {"exec_blank_refused", {"-exec", "/w/a b/"},
       "bad arg: path holds a blank\n-exec \"/w/a b/\" holds a blank: give a path without one, such as a link made with ln -s '/path/with a blank' /path/without\n", {.mode = Mode_error}},
      {"exec_tab_refused", {"-exec", "/w/a\tb/"}, "bad arg: path holds a control character\n", {.mode = Mode_error}},
      {"exec_semicolon_refused", {"-exec", "/w/a;b/"},
       "bad arg: path holds the character ;, which the command interpreter reads specially\n", {.mode = Mode_error}},
      {"exec_consumes_option_word", {"-exec", "-help"}, "", {.path = "-help"}},
      {"exec_last", {"-help", "-exec"}, "bad arg: -path N\n", {.mode = Mode_error}},
      {"exec_118", {"-exec", p118}, "", {.path = p118}},
      {"exec_119", {"-exec", p118 + "q"}, kPathRefused, {.mode = Mode_error}},
      {"exec_400", {"-exec", std::string(400, 'p'), "-prog"}, kPathRefused, {.mode = Mode_error, .prog = 1}},
      {"execfinish_set", {"-execfinish", "shutdown -s"}, "", {.execfinish = "shutdown -s"}},
      {"execfinish_last", {"-execfinish"}, "bad arg: -execfinish N\n", {.mode = Mode_error}},
      {"execfinish_254", {"-execfinish", x255.substr(1)}, "", {.execfinish = x255.substr(1)}},
      {"execfinish_255", {"-execfinish", x255}, kFinishRefused, {.mode = Mode_error}},
      {"execfinish_400", {"-execfinish", std::string(400, 'x')}, kFinishRefused, {.mode = Mode_error}},
      {"connect_one_digit_hour_refused", {"-connect", "6:30-07:00"},
       "connect window ignored: '6:30-07:00' is not HH:MM-HH:MM; connecting at any time\n", {}},
      {"connect_bad_value_goes_on", {"-connect", "tonight", "-prog"},
       "connect window ignored: 'tonight' is not HH:MM-HH:MM; connecting at any time\n", {.prog = 1}},
      {"connect_last", {"-connect"}, "connect window ignored: -connect needs HH:MM-HH:MM; connecting at any time\n",
       {}},
      {"stall_set", {"-STALL", "120"}, "", {.stall = 120}},
      {"stall_bad_value_goes_on", {"-stall", "2h", "-prog"},
       "stall watch ignored: '2h' is not a number of minutes from 1 to 100000; the client is never restarted\n",
       {.prog = 1}},
      {"stall_zero_ignored", {"-stall", "0"},
       "stall watch ignored: '0' is not a number of minutes from 1 to 100000; the client is never restarted\n", {}},
      {"stall_last", {"-stall"}, "stall watch ignored: -stall needs MINUTES; the client is never restarted\n", {}},
      {"nowork_set", {"-NOWORK", "60", "-stall", "5"}, "", {.stall = 5, .nowork = 60}},
      {"nowork_bad_value_goes_on", {"-nowork", "1h", "-prog"},
       "no-work limit ignored: '1h' is not a number of minutes from 1 to 100000; a connection waits for work as long "
       "as it takes\n",
       {.prog = 1}},
      {"nowork_last", {"-nowork"},
       "no-work limit ignored: -nowork needs MINUTES; a connection waits for work as long as it takes\n", {}},
      {"execempty_set", {"-execempty", "beep -f 2"}, "", {.execempty = "beep -f 2"}},
      {"execempty_last", {"-execempty"}, "bad arg: -execempty COMMAND\n", {.mode = Mode_error}},
      {"log_set_and_last", {"-log", "C:\\vorcnt\\vorcnt.log", "-log"}, "bad arg: -log FILE\n",
       {.mode = Mode_error, .log = "C:\\vorcnt\\vorcnt.log"}},
      {"execempty_255", {"-execempty", x255}, "bad arg: execempty longer than 254 characters\n", {.mode = Mode_error}},
      {"history_is_no_option", {"-history", "h.tsv"}, "bad arg: -history\nbad arg: h.tsv\n",
       {.mode = Mode_error}},
      {"help_then_version", {"-help", "-version"}, "", {.mode = Mode_verinfo}},
      {"unknown_short", {"-h"}, "bad arg: -h\n", {.mode = Mode_error}},
      {"bare_number", {"42"}, "bad arg: 42\n", {.mode = Mode_error}},
      {"near_miss_value_examined", {"-timer", "300"}, "bad arg: -timer\nbad arg: 300\n", {.mode = Mode_error}},
      {"percent_signs_printed_as_is", {"%s%n"}, "bad arg: %s%n\n", {.mode = Mode_error}},
      {"arg_255_fits", {x255}, "bad arg: " + x255 + "\n", {.mode = Mode_error}},
      {"arg_256_refused", {x255 + "x"}, kArgRefused, {.mode = Mode_error}},
      {"arg_100k_then_option", {huge, "-prog"}, kArgRefused, {.mode = Mode_error, .prog = 1}},
      {"units_100k_value", {"-units", huge, "-prog"}, kArgRefused, {.mode = Mode_error, .units = 0, .prog = 1}},
      {"fill_100k_value", {"-fill", huge}, kArgRefused, fill_error},
      {"time_100k_value", {"-time", std::string(100 * 1024, '9')}, kArgRefused, {.mode = Mode_error}},
      {"exec_100k_value", {"-exec", huge}, kPathRefused, {.mode = Mode_error}},
  };
}

// What the user typed reaches the console as written (a UTF-8 terminal
// converts only our own CP932 texts), though the notes are printed later.
TEST(CommandLineNotes, KeepTheUsersTextsApart) {
  std::string program = "vorcnt", option = "-fill", value = "\xe3\x83\xb4";  // a UTF-8 letter
  char* argv[] = {program.data(), option.data(), value.data(), nullptr};
  ControllerContext ctx;
  SettingsNotes notes;
  parse_command_line(3, argv, ctx, notes);
  testing::FakeOs fake;
  notes.print(fake.os);
  EXPECT_EQ(fake.console.output, "fill:" + value + "\nbad arg: -fill " + value + "\nbad arg: " + value + "\n");
  EXPECT_EQ(fake.console.verbatim, value + "|" + value + "|" + value + "|");
}

INSTANTIATE_TEST_SUITE_P(CommandLine, CommandLineArgs, ::testing::ValuesIn(args_rows()),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace vorcnt
