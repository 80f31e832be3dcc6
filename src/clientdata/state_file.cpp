// Reader of the client's state file (state.txt / state.vwu).

#include "clientdata/client_files.h"
#include "clientdata/snapshot.h"
#include "ground/text.h"
#include "platform/files.h"

namespace vorcnt {

namespace {

using clientdata_detail::kLineRead;
using clientdata_detail::kNameBuffer;
using clientdata_detail::kTokenBuffer;

// Slots 0-19 each name one real field; slot 20 is the indexed bg_pot line.
constexpr int kProgSlot = 4;
constexpr int kPlainSlots = 20;
constexpr int kBgPotSlot = 20;
constexpr int kBgPotEntries = 64;

const KeywordSlot kStateKeywords[22] = {
    "ncfft",         "cr",         "fl",           "cpu",           "prog",       "bs_power",
    "bs_score",      "bs_bin",     "bs_fft_ind",   "bs_chirp_rate", "bs_fft_len", "bg_score",
    "bg_sigma",      "bg_power",   "bg_true_mean", "bg_chisq",      "bg_bin",     "bg_fft_ind",
    "bg_chirp_rate", "bg_fft_len", "bg_pot",
    // Slot 21 stays empty and ends the table.
};

double ClientSnapshot::*const kPlainFields[kPlainSlots] = {
    &ClientSnapshot::ncfft,         &ClientSnapshot::cr,         &ClientSnapshot::fl,
    &ClientSnapshot::cpu,           &ClientSnapshot::prog,       &ClientSnapshot::bs_power,
    &ClientSnapshot::bs_score,      &ClientSnapshot::bs_bin,     &ClientSnapshot::bs_fft_ind,
    &ClientSnapshot::bs_chirp_rate, &ClientSnapshot::bs_fft_len, &ClientSnapshot::bg_score,
    &ClientSnapshot::bg_sigma,      &ClientSnapshot::bg_power,   &ClientSnapshot::bg_true_mean,
    &ClientSnapshot::bg_chisq,      &ClientSnapshot::bg_bin,     &ClientSnapshot::bg_fft_ind,
    &ClientSnapshot::bg_chirp_rate, &ClientSnapshot::bg_fft_len,
};

// The bg_pot index as the integer rule reads it (blanks, a sign, the leading
// digit run; "1e5" is 1), or -1 when that digit run names no entry. The range
// is judged on the digits themselves, not on their 32-bit value, so a huge
// index that wraps back into 0-63 (4294967299 -> 3) cannot overwrite an entry.
int bg_pot_index(const char* text) {
  std::size_t i = 0;
  while (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')) ++i;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  int value = 0;
  for (; text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value >= kBgPotEntries) return -1;
  }
  return negative && value != 0 ? -1 : value;
}

// "bg_pot=<index>,<value>": `index_token` already holds the index; the value
// follows one separator character later. An index outside the table skips
// the line.
void store_bg_pot(ClientSnapshot& snap, const char*& line, const char* index_token) {
  const int index = bg_pot_index(index_token);
  take_char(line);
  char token[kTokenBuffer];
  take_word(line, token, sizeof token);
  if (index < 0) return;
  snap.bg_pot[index] = to_real(token);
}

}  // namespace

std::int32_t read_state(ClientSnapshot& snap, const char* folder) {
  char name[kNameBuffer];
  if (!clientdata_detail::build_name(name, folder, "state", clientdata_detail::extension_of(snap.ext_index))) return 1;
  TextReader reader;
  if (!reader.open(name)) return 1;
  return read_state_lines(snap, reader);
}

std::int32_t read_state_lines(ClientSnapshot& snap, TextReader& reader) {
  std::int32_t result = 0;
  char buffer[kLineRead + 1];
  char key[kTokenBuffer];
  char value[kTokenBuffer];
  while (reader.read_line(buffer, kLineRead)) {
    const char* line = buffer;
    take_word(line, key, sizeof key);
    const int slot = find_keyword(kStateKeywords, key);
    take_char(line);
    take_word(line, value, sizeof value);
    if (slot < kPlainSlots) {
      snap.*kPlainFields[slot] = to_real(value);
      // The line itself is the sign of a running computation, number or not.
      if (slot == kProgSlot) result = 2;
    } else if (slot == kBgPotSlot) {
      store_bg_pot(snap, line, value);
    }
  }
  return result;
}

std::int32_t read_progress_lines(ClientSnapshot& snap, TextReader& reader) {
  std::int32_t result = 0;
  char buffer[kLineRead + 1];
  while (reader.read_line(buffer, kLineRead)) {
    const char* line = buffer;
    while (is_blank(*line)) ++line;
    // The key is the word up to the first of these, as take_word cuts it.
    // Byte by byte: a mismatch (the terminator included) stops the test.
    if (line[0] != 'p' || line[1] != 'r' || line[2] != 'o' || line[3] != 'g') continue;
    const char after = line[4];
    if (after != '\0' && after != ' ' && after != '\t' && after != ',' && after != '=' && after != '\n') continue;
    line += 4;
    take_char(line);
    char value[kTokenBuffer];
    take_word(line, value, sizeof value);
    snap.prog = to_real(value);
    result = 2;
  }
  return result;
}

}  // namespace vorcnt
