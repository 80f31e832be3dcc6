#include "ground/text.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vorcnt {

int find_keyword(const KeywordSlot* table, const char* word) {
  // Every client file line goes through here; the first byte settles most
  // slots without a call.
  const char first = word[0];
  for (int slot = 0;; ++slot) {
    const char* key = table[slot];
    if (key[0] == '\0') return slot;
    if (key[0] != first) continue;
    const char* a = key + 1;
    const char* b = word + 1;
    while (*a != '\0' && *a == *b) ++a, ++b;
    if (*a == *b) return slot;
  }
}

namespace {

bool is_upper_letter(char c) { return c >= 'A' && c <= 'Z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Drops the first `count` bytes of `text`, shifting the rest (terminator
// included) down in one move.
void drop_front(char* text, std::size_t count) {
  if (count == 0) return;
  std::memmove(text, text + count, std::strlen(text + count) + 1);
}

// Copies `length` bytes of `from` into `out`, cut to `out_size - 1`, and
// terminates. Returns the number of bytes stored.
int store(char* out, std::size_t out_size, const char* from, std::size_t length) {
  if (out_size == 0) return 0;
  if (length > out_size - 1) length = out_size - 1;
  std::memcpy(out, from, length);
  out[length] = '\0';
  return static_cast<int>(length);
}

std::size_t count_blanks(const char* text) {
  std::size_t n = 0;
  while (is_blank(text[n])) ++n;
  return n;
}

// Shared by take_letters and take_digits: everything ahead of the first byte
// of the class is thrown away, then the run of that class is taken.
template <typename Pred>
int take_run(char* text, char* out, std::size_t out_size, Pred in_class) {
  std::size_t start = 0;
  while (text[start] != '\0' && !in_class(text[start])) ++start;
  std::size_t end = start;
  while (in_class(text[end])) ++end;
  int stored = store(out, out_size, text + start, end - start);
  drop_front(text, end);
  return stored;
}

bool is_c_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The value of a plain decimal number ("12", "0.25", "1.5e3") when it can
// be computed exactly: at most 2^53 in its digits and a power of ten within
// 10^22. Otherwise -1.
double exact_decimal(const char* text, std::size_t length) {
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  std::uint64_t mantissa = 0;
  int scale = 0;  // decimal places taken after the point
  int digits = 0;
  std::size_t i = 0;
  bool point = false;
  for (; i < length; ++i) {
    const char c = text[i];
    if (c == '.') {
      point = true;
      continue;
    }
    if (!is_digit(c)) break;
    if (mantissa == 0 && c == '0') {
      if (point) ++scale;
      continue;
    }
    if (++digits > 15) return -1.0;
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
    if (point) ++scale;
  }
  int exponent = 0;
  if (i < length) {  // 'e' or 'E', then an optional sign and digits
    ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    for (; i < length; ++i) {
      if (exponent > 1000) return -1.0;
      exponent = exponent * 10 + (text[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  exponent -= scale;
  if (mantissa == 0) return 0.0;
  if (exponent < -22 || exponent > 22) return -1.0;
  const double m = static_cast<double>(mantissa);
  return exponent < 0 ? m / kPowers[-exponent] : m * kPowers[exponent];
}

}  // namespace

bool is_blank(char c) { return c == ' ' || c == '\t' || c == ','; }

void skip_blanks(char* text) { drop_front(text, count_blanks(text)); }

char take_char(const char*& cursor) {
  char c = cursor[0];
  if (c != '\0') ++cursor;
  return c;
}

char take_char(char* text) {
  const char* cursor = text;
  char c = take_char(cursor);
  drop_front(text, static_cast<std::size_t>(cursor - text));
  return c;
}

// Bytes that end a word: NUL, the blanks, "=" and the line end.
constexpr auto kWordStops = [] {
  std::array<bool, 256> stops{};
  for (unsigned char c : {'\0', ' ', '\t', ',', '=', '\n'}) stops[c] = true;
  return stops;
}();

int take_word(const char*& cursor, char* out, std::size_t out_size) {
  std::size_t start = count_blanks(cursor);
  std::size_t end = start;
  while (!kWordStops[static_cast<unsigned char>(cursor[end])]) ++end;
  int stored = store(out, out_size, cursor + start, end - start);
  cursor += end;
  return stored;
}

int take_word(char* text, char* out, std::size_t out_size) {
  const char* cursor = text;
  int stored = take_word(cursor, out, out_size);
  drop_front(text, static_cast<std::size_t>(cursor - text));
  return stored;
}

int take_letters(char* text, char* out, std::size_t out_size) {
  return take_run(text, out, out_size, is_upper_letter);
}

int take_digits(char* text, char* out, std::size_t out_size) { return take_run(text, out, out_size, is_digit); }

int take_rest_of_line(char* out, std::size_t out_size, const char*& cursor) {
  std::size_t start = count_blanks(cursor);
  std::size_t end = start;
  while (cursor[end] != '\0' && cursor[end] != '\n') ++end;
  int stored = store(out, out_size, cursor + start, end - start);
  cursor += end;
  return stored;
}

int take_rest_of_line(char* out, std::size_t out_size, char* text) {
  const char* cursor = text;
  int stored = take_rest_of_line(out, out_size, cursor);
  drop_front(text, static_cast<std::size_t>(cursor - text));
  return stored;
}

void copy_upper(const char* source, char* dest, std::size_t dest_size) {
  if (dest_size == 0) return;
  std::size_t i = 0;
  // Byte-wise and locale-free: every byte a-z (a CP932 trail byte included)
  // becomes A-Z and nothing else changes, whatever the C locale says.
  for (; i + 1 < dest_size && source[i] != '\0'; ++i) {
    char c = source[i];
    dest[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  dest[i] = '\0';
}

std::int32_t to_int32(const char* text) {
  std::size_t i = 0;
  while (is_c_space(text[i])) ++i;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  // Unsigned arithmetic wraps by definition, so a digit run too long for 32
  // bits gives its value modulo 2^32 instead of undefined behaviour.
  std::uint32_t value = 0;
  for (; is_digit(text[i]); ++i) value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

double to_real(const char* text) {
  std::size_t i = 0;
  while (is_c_space(text[i])) ++i;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';

  // Only a plain decimal number is read: no hexadecimal, "inf" or "nan",
  // which a client file never means and which would poison the progress.
  const std::size_t number = i;
  std::size_t int_digits = 0, frac_digits = 0;
  while (is_digit(text[i])) ++i, ++int_digits;
  if (text[i] == '.') {
    ++i;
    while (is_digit(text[i])) ++i, ++frac_digits;
  }
  if (int_digits + frac_digits == 0) return 0.0;
  std::size_t end = i;
  if (text[i] == 'e' || text[i] == 'E') {
    std::size_t j = i + 1;
    if (text[j] == '+' || text[j] == '-') ++j;
    if (is_digit(text[j])) {
      while (is_digit(text[j])) ++j;
      end = j;
    }
  }

  // Most numbers in the client's files are short. Those whose digits fit 53
  // bits and whose power of ten is exact in a double convert with one
  // correctly rounded multiplication or division; the rest go to strtod, in
  // the "C" locale that this program never leaves, which gives HUGE_VAL on
  // overflow and 0 on underflow as the C library always has. (from_chars
  // would serve too, but maps the maths library into a process that sleeps
  // beside the client for months.)
  const double fast = exact_decimal(text + number, end - number);
  if (fast >= 0.0) return negative ? -fast : fast;
  char small[64];
  std::string large;
  const std::size_t length = end - number;
  const char* digits = small;
  if (length < sizeof small) {
    std::memcpy(small, text + number, length);
    small[length] = '\0';
  } else {
    large.assign(text + number, length);
    digits = large.c_str();
  }
  const double value = std::strtod(digits, nullptr);
  return negative ? -value : value;
}

}  // namespace vorcnt
