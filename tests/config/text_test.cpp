#include "ground/text.h"
#include "platform/path_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace vorcnt {
namespace {

TEST(KeywordTable, ExactCaseSensitiveAndEndsAtFirstEmptySlot) {
  // A keyword stored after the first empty slot is not part of the table.
  const KeywordSlot table[6] = {"PROG", "PROGRESS", "KEY", "", "HIDDEN", ""};
  const struct {
    const char* word;
    int slot;
  } rows[] = {
      {"PROG", 0}, {"PROGRESS", 1}, {"KEY", 2},
      // Exact and case-sensitive: near misses and lower case fall through.
      {"PROGR", 3}, {"PRO", 3}, {"prog", 3}, {"", 3}, {"KEY ", 3}, {"HIDDEN", 3},
  };
  for (const auto& row : rows) EXPECT_EQ(find_keyword(table, row.word), row.slot) << row.word;
}

enum class Helper { SkipBlanks, TakeChar, TakeWord, TakeLetters, TakeDigits, TakeRest };

struct HelperRow {
  const char* name;
  Helper helper;
  std::string text;
  std::size_t out_size;
  std::string out;   // for TakeChar: the character returned
  std::string rest;  // what is left of the text
};

class TextHelpers : public ::testing::TestWithParam<HelperRow> {};

TEST_P(TextHelpers, TakeAndLeave) {
  const HelperRow& row = GetParam();
  std::string text = row.text;  // std::string keeps a terminator after data()
  // The out buffer sits inside a larger one filled with a guard byte, so any
  // write past out_size shows.
  char guarded[64];
  std::memset(guarded, '#', sizeof guarded);
  std::string out;
  int taken = -1;
  switch (row.helper) {
    case Helper::SkipBlanks:
      skip_blanks(text.data());
      break;
    case Helper::TakeChar: {
      char c = take_char(text.data());
      out = c == '\0' ? std::string() : std::string(1, c);
      break;
    }
    case Helper::TakeWord:
      taken = take_word(text.data(), guarded, row.out_size);
      break;
    case Helper::TakeLetters:
      taken = take_letters(text.data(), guarded, row.out_size);
      break;
    case Helper::TakeDigits:
      taken = take_digits(text.data(), guarded, row.out_size);
      break;
    case Helper::TakeRest:
      taken = take_rest_of_line(guarded, row.out_size, text.data());
      break;
  }
  if (taken >= 0) {
    out = guarded;
    EXPECT_EQ(taken, static_cast<int>(out.size()));
    for (std::size_t i = row.out_size; i < sizeof guarded; ++i) ASSERT_EQ(guarded[i], '#') << "written at " << i;
  }
  EXPECT_EQ(out, row.out);
  EXPECT_EQ(std::string(text.c_str()), row.rest);
}

INSTANTIATE_TEST_SUITE_P(
    Text, TextHelpers,
    ::testing::Values(
        HelperRow{"skip_mixed_blanks", Helper::SkipBlanks, " \t,,x y", 0, "", "x y"},
        HelperRow{"skip_keeps_line_end", Helper::SkipBlanks, "\n x", 0, "", "\n x"},
        HelperRow{"char_equals", Helper::TakeChar, "=5", 0, "=", "5"},
        HelperRow{"char_empty", Helper::TakeChar, "", 0, "", ""},
        HelperRow{"word_before_equals", Helper::TakeWord, "  EXEC=c:\\x\\", 32, "EXEC", "=c:\\x\\"},
        HelperRow{"word_leaves_stop", Helper::TakeWord, "FOO = 1\n", 32, "FOO", " = 1\n"},
        HelperRow{"word_empty_at_equals", Helper::TakeWord, "=5", 32, "", "=5"},
        HelperRow{"word_comma_stops", Helper::TakeWord, ",,a,b", 32, "a", ",b"},
        HelperRow{"word_line_end_stops", Helper::TakeWord, "abc\ndef", 32, "abc", "\ndef"},
        HelperRow{"word_cp932_bytes", Helper::TakeWord, "\x8c\x76\x8e\x5a x", 32, "\x8c\x76\x8e\x5a", " x"},
        HelperRow{"word_cut_consumes_all", Helper::TakeWord, "ABCDEFGHIJ rest", 4, "ABC", " rest"},
        HelperRow{"word_size_one", Helper::TakeWord, "abc=", 1, "", "="},
        HelperRow{"letters_option", Helper::TakeLetters, "-EXEC", 32, "EXEC", ""},
        HelperRow{"letters_stop_at_equals", Helper::TakeLetters, "--UNITS=4", 32, "UNITS", "=4"},
        HelperRow{"letters_lower_case_none", Helper::TakeLetters, "-exec", 32, "", ""},
        HelperRow{"letters_skip_high_bytes", Helper::TakeLetters, "\x82\xa0" "AB1C", 32, "AB", "1C"},
        HelperRow{"letters_cut", Helper::TakeLetters, "/ABCDEFG!", 3, "AB", "!"},
        HelperRow{"digits_after_equals", Helper::TakeDigits, " = 36000\n", 32, "36000", "\n"},
        HelperRow{"digits_none", Helper::TakeDigits, "none\n", 32, "", ""},
        HelperRow{"digits_minus_dropped", Helper::TakeDigits, "-3x", 32, "3", "x"},
        HelperRow{"digits_first_run_only", Helper::TakeDigits, "17x4", 32, "17", "x4"},
        HelperRow{"digits_cut", Helper::TakeDigits, "123456789 ", 4, "123", " "},
        HelperRow{"rest_keeps_inner_blanks", Helper::TakeRest, "\t Tokyo, Chiyoda ku\n", 32, "Tokyo, Chiyoda ku", "\n"},
        HelperRow{"rest_without_line_end", Helper::TakeRest, " no line end", 32, "no line end", ""},
        HelperRow{"rest_cut", Helper::TakeRest, "abcdefgh\nX", 5, "abcd", "\nX"}),
    [](const auto& p) { return std::string(p.param.name); });

// Folder names in code page 932, where a second byte may be '\' (ソ 83 5C,
// 表 95 5C), '^' (タ 83 5E) or '|' (ポ 83 7C), and plain names with no lead
// bytes at all (POSIX, or an ASCII name anywhere).
TEST(PathScans, StepOverTheSecondByteOfADoubleByteCharacter) {
  const LeadByteTest none = [](unsigned char) { return false; };
  const struct {
    const char* path;
    LeadByteTest lead;
    std::size_t last;  // where the last separator stands
    bool ends;
    const char* slashed;  // after slashes_to_backslashes
  } rows[] = {
      {"C:\\x\\", none, 4, true, "C:\\x\\"},
      {"c/", none, 1, true, "c\\"},
      {"vorelith", none, std::string::npos, false, "vorelith"},
      {"", cp932_lead_byte, std::string::npos, false, ""},
      // C:\ソ, C:\ソフト\, C:/データ/c/, 表/ポ
      {"C:\\\x83\x5c", cp932_lead_byte, 2, false, "C:\\\x83\x5c"},
      {"C:\\\x83\x5c\x83\x74\x83\x67\\", cp932_lead_byte, 9, true, "C:\\\x83\x5c\x83\x74\x83\x67\\"},
      {"C:/\x83\x66\x81\x5b\x83\x5e/c/", cp932_lead_byte, 11, true, "C:\\\x83\x66\x81\x5b\x83\x5e\\c\\"},
      {"\x95\x5c/\x83\x7c", cp932_lead_byte, 2, false, "\x95\x5c\\\x83\x7c"},
      {"a/\x83", cp932_lead_byte, 1, false, "a\\\x83"},  // a lead byte with nothing after it stands alone
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(last_separator(row.path, row.lead), row.last);
    EXPECT_EQ(ends_in_separator(row.path, row.lead), row.ends);
    std::string text = row.path;
    slashes_to_backslashes(text.data(), row.lead);
    EXPECT_EQ(text, row.slashed);
  }
}

TEST(TextCopyUpper, BytewiseInPlaceAndBounded) {
  char buf[32] = "-Exec";
  copy_upper(buf, buf, sizeof buf);
  EXPECT_STREQ(buf, "-EXEC");

  // Only a-z change, a CP932 trail byte in that range included; high bytes
  // stay whatever the locale would say about them.
  char dest[32];
  copy_upper("\x82\x61z\xe0\xff{", dest, sizeof dest);
  EXPECT_STREQ(dest, "\x82\x41Z\xe0\xff{");

  char small[8];
  std::memset(small, '#', sizeof small);
  copy_upper("abcdefgh", small, 4);
  EXPECT_STREQ(small, "ABC");
  EXPECT_EQ(small[4], '#');
}

TEST(TextNumbers, ToInt32FollowsAtoiAndWraps) {
  const struct {
    const char* text;
    std::int32_t value;
  } rows[] = {
      {"42", 42}, {" \t\n-17", -17}, {"+5", 5}, {"12abc", 12}, {"abc", 0}, {"", 0}, {"- 5", 0},
      {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
      // Too long for 32 bits: modulo 2^32, as two's-complement wraps.
      {"2147483648", INT_MIN}, {"4294967296", 0}, {"4294967301", 5},
      {"99999999999999999999", 1661992959},
  };
  for (const auto& row : rows) EXPECT_EQ(to_int32(row.text), row.value) << row.text;
}

TEST(TextNumbers, ToRealReadsPlainDecimals) {
  const struct {
    const char* text;
    double value;
  } rows[] = {
      {"0.5", 0.5}, {"  1e2", 100.0}, {"-2.5x", -2.5}, {"+.25", 0.25}, {"5.", 5.0},
      {"1e", 1.0}, {"1e+", 1.0}, {"2E-1", 0.2}, {"12.5%", 12.5},
      {"abc", 0.0}, {"", 0.0}, {".", 0.0},
      // Not decimal numbers: only the leading zero, or nothing, is read.
      {"0x10", 0.0}, {"inf", 0.0}, {"nan", 0.0},
      {"1e999", HUGE_VAL}, {"-1e999", -HUGE_VAL}, {"1e-999", 0.0}, {"0.0001e-400", 0.0},
      {"0.001e311", 1e308},
  };
  for (const auto& row : rows) EXPECT_DOUBLE_EQ(to_real(row.text), row.value) << row.text;
}

// The short-number path must round exactly as the C library does; any
// difference in the last bit would show here.
TEST(NumberRules, RealsMatchTheCLibraryToTheLastBit) {
  const auto same_bits = [](const char* text) {
    const double expected = std::strtod(text, nullptr), got = to_real(text);
    return std::memcmp(&expected, &got, sizeof got) == 0;
  };
  for (const char* edge : {"0.000000000000000000001", "9007199254740993", "123456789012345.6", "1e22", "1e23",
                           "4.9e-324", "1e400", "1e-400", "0e5", "00000000000000000000001.5"})
    EXPECT_TRUE(same_bits(edge)) << edge;
  std::mt19937_64 rng(20261207);
  char text[64];
  for (int i = 0; i < 20000; ++i) {
    double magnitude = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 80) - 70);
    if (i & 1) magnitude = -magnitude;
    switch (i % 6) {
      case 0: std::snprintf(text, sizeof text, "%.6f", magnitude); break;
      case 1: std::snprintf(text, sizeof text, "%.3f", magnitude); break;
      case 2: std::snprintf(text, sizeof text, "%.15g", magnitude); break;
      case 3: std::snprintf(text, sizeof text, "%.17g", magnitude); break;
      case 4: std::snprintf(text, sizeof text, "%g", magnitude); break;
      default: std::snprintf(text, sizeof text, "%.2e", magnitude); break;
    }
    ASSERT_TRUE(same_bits(text)) << text;
  }
}

}  // namespace
}  // namespace vorcnt
