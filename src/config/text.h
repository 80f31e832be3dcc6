// The keyword tables and the consuming text helpers that every reader of the
// settings and of the client's files cuts its lines with.
//
// The helpers remove what they read from the front of `text`, in place, so
// successive calls walk along one line. A blank is a space, a tab or a comma.
// Outputs never overflow: a word longer than `out_size - 1` is cut to fit, and
// the rest of that word is still consumed from the text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorcnt {

constexpr int kKeywordSlot = 20;

// A table of 20-byte slots; the first empty slot ends it.
using KeywordSlot = char[kKeywordSlot];

// The settings table: 20 slots, HELP..TIME in slots 0-8.
enum SettingsKeyword : int {
  kw_HELP = 0,
  kw_VERSION = 1,
  kw_EXEC = 2,
  kw_UNITS = 3,
  kw_FILL = 4,
  kw_AUTOFILL = 5,
  kw_EXECFINISH = 6,
  kw_PROG = 7,
  kw_TIME = 8,
  kw_none = 9,
};
extern const KeywordSlot kSettingsKeywords[20];

// Number of the first slot equal to `word`, else of the first empty slot.
int find_keyword(const KeywordSlot* table, const char* word);

bool is_blank(char c);
void skip_blanks(char* text);
char take_char(char* text);
int take_word(char* text, char* out, std::size_t out_size);
int take_letters(char* text, char* out, std::size_t out_size);
int take_digits(char* text, char* out, std::size_t out_size);
int take_rest_of_line(char* out, std::size_t out_size, char* text);
// `dest` may be `source`; `dest_size` bounds the copy (cut to fit).
void copy_upper(const char* source, char* dest, std::size_t dest_size);

// Plain decimal conversions with the C library's meaning but defined on
// overflow: the value wraps as a 32-bit two's-complement number would.
std::int32_t to_int32(const char* text);   // atoi rule
double to_real(const char* text);          // atof rule

}  // namespace vorcnt
