// Reader of the client's user-info file (user_info.txt / user_info.vwu).

#include <cstring>

#include "clientdata/client_files.h"
#include "clientdata/snapshot.h"
#include "ground/text.h"
#include "platform/files.h"

namespace vorcnt {

namespace {

using clientdata_detail::kLineRead;
using clientdata_detail::kNameBuffer;
using clientdata_detail::kTokenBuffer;

// The file's keys in table order; matched exactly, case and all.
enum UserInfoKey : int {
  ui_id,
  ui_key,
  ui_email_addr,
  ui_name,
  ui_url,
  ui_country,
  ui_postal_code,
  ui_show_name,
  ui_show_email,
  ui_venue,
  ui_register_time,
  ui_last_wu_time,
  ui_last_result_time,
  ui_nwus,
  ui_nresults,
  ui_total_cpu,
  ui_params_index,
};

const KeywordSlot kUserInfoKeywords[22] = {
    "id",        "key",        "email_addr",   "name",          "url",          "country",          "postal_code",
    "show_name", "show_email", "venue",        "register_time", "last_wu_time", "last_result_time", "nwus",
    "nresults",  "total_cpu",  "params_index",
    // Slots 17-21 stay empty; the first of them ends the table.
};

// Cuts a single-token value into the token buffer and copies it to `field`.
template <std::size_t N>
void store_token(const char*& line, char (&field)[N]) {
  static_assert(N >= kTokenBuffer, "a token must fit its field whole");
  char token[kTokenBuffer];
  take_word(line, token, sizeof token);
  std::memcpy(field, token, std::strlen(token) + 1);
}

template <std::size_t N>
void store_rest(const char*& line, char (&field)[N]) {
  take_rest_of_line(field, N, line);
}

std::int32_t take_int(const char*& line) {
  char token[kTokenBuffer];
  take_word(line, token, sizeof token);
  return to_int32(token);
}

double take_real(const char*& line) {
  char token[kTokenBuffer];
  take_word(line, token, sizeof token);
  return to_real(token);
}

}  // namespace

std::int32_t read_user_info(ClientSnapshot& snap, const char* folder) {
  char name[kNameBuffer];
  if (!clientdata_detail::build_name(name, folder, "user_info", clientdata_detail::extension_of(snap.ext_index)))
    return 1;
  TextReader reader;
  if (!reader.open(name)) return 1;
  return read_user_info_lines(snap, reader);
}

std::int32_t read_user_info_lines(ClientSnapshot& snap, TextReader& reader) {
  std::int32_t result = 0;
  char buffer[kLineRead + 1];
  char key[kTokenBuffer];
  while (reader.read_line(buffer, kLineRead)) {
    const char* line = buffer;
    take_word(line, key, sizeof key);
    const int slot = find_keyword(kUserInfoKeywords, key);
    take_char(line);  // the separator: "=", or a blank standing in for it
    switch (slot) {
      case ui_id:
        store_token(line, snap.id);
        result = 1;
        break;
      case ui_key: store_token(line, snap.key); break;
      case ui_email_addr: store_token(line, snap.email_addr); break;
      case ui_name: store_rest(line, snap.name); break;
      case ui_url: store_token(line, snap.url); break;
      case ui_country: store_token(line, snap.country); break;
      case ui_postal_code: store_token(line, snap.postal_code); break;
      case ui_show_name: store_token(line, snap.show_name); break;
      case ui_show_email: store_token(line, snap.show_email); break;
      case ui_venue: store_token(line, snap.venue); break;
      case ui_register_time: store_rest(line, snap.register_time); break;
      case ui_last_wu_time: store_rest(line, snap.last_wu_time); break;
      case ui_last_result_time: store_rest(line, snap.last_result_time); break;
      case ui_nwus: snap.nwus = take_int(line); break;
      case ui_nresults: snap.nresults = take_int(line); break;
      case ui_total_cpu: snap.total_cpu = take_real(line); break;
      case ui_params_index: snap.params_index = take_int(line); break;
      default: break;  // not one of ours: skipped without a word
    }
  }
  return result;
}

}  // namespace vorcnt
