// The keyword tables and the consuming text helpers that every reader of the
// settings and of the client's files cuts its lines with.
//
// The helpers remove what they read from the front of `text`, in place, so
// successive calls walk along one line. A blank is a space, a tab or a comma.
// Outputs never overflow: a word longer than `out_size - 1` is cut to fit, and
// the rest of that word is still consumed from the text. The taking helpers
// return the number of bytes stored in `out`; `out` must not lie inside
// `text`. Each call shifts the rest of the text down once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorcnt {

constexpr int kKeywordSlot = 20;

// A table of 20-byte slots; the first empty slot ends it.
using KeywordSlot = char[kKeywordSlot];

// Number of the first slot equal to `word`, else of the first empty slot.
int find_keyword(const KeywordSlot* table, const char* word);

bool is_blank(char c);
void skip_blanks(char* text);
char take_char(char* text);
int take_word(char* text, char* out, std::size_t out_size);
int take_letters(char* text, char* out, std::size_t out_size);
int take_digits(char* text, char* out, std::size_t out_size);
int take_rest_of_line(char* out, std::size_t out_size, char* text);
// The same three helpers over a cursor that walks a line instead of
// shifting it: identical results, for the readers that run on every poll.
char take_char(const char*& cursor);
int take_word(const char*& cursor, char* out, std::size_t out_size);
int take_rest_of_line(char* out, std::size_t out_size, const char*& cursor);

// `dest` may be `source`; `dest_size` bounds the copy (cut to fit).
void copy_upper(const char* source, char* dest, std::size_t dest_size);

// Plain decimal conversions with the C library's meaning but defined on
// overflow.
// atoi rule; a digit run too long for 32 bits wraps modulo 2^32.
std::int32_t to_int32(const char* text);
// atof rule, decimal numbers only (no hexadecimal, "inf" or "nan"), and not
// swayed by the C locale's decimal point. Out of range gives +-HUGE_VAL or 0.
double to_real(const char* text);

}  // namespace vorcnt
