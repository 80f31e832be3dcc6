#include "config/opt_in_settings.h"

#include <cstring>
#include <string_view>

#include "config/settings.h"
#include "ground/connect_hours.h"
#include "ground/messages.h"
#include "ground/text.h"
#include "platform/console.h"

namespace vorcnt {

namespace {

enum OptInKeyword : int { oi_CONNECT = 0, oi_HISTORY = 1, oi_EXECEMPTY = 2, oi_STALL = 3 };
const KeywordSlot kOptInKeywords[5] = {"CONNECT", "HISTORY", "EXECEMPTY", "STALL"};
constexpr std::int32_t kMaxStallMinutes = 100000;

// A value without its line end and the blanks around it. Commas are kept:
// they may belong to a file name or a command.
std::string_view trimmed(const char* value) {
  std::string_view v(value);
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == '\n' || v.back() == '\r' || v.back() == ' ' || v.back() == '\t'))
    v.remove_suffix(1);
  return v;
}

// A typo in the window must not stop the buffer: the run goes on and
// connects at any time.
void set_connect(Os& os, ControllerContext& ctx, std::string_view value) {
  ConnectWindow w;
  if (!parse_connect_window(value, &w)) {
    print(os, msg::kConnectValueMalformed,
          static_cast<int>(value.size()), value.data());
    ctx.connect_start = -1;
    ctx.connect_end = -1;
    return;
  }
  ctx.connect_start = w.start;
  ctx.connect_end = w.end;
}

// As with the window, a typo must not stop the buffer: the run goes on and
// the client is never restarted.
void set_stall(Os& os, ControllerContext& ctx, std::string_view value) {
  std::int32_t minutes = 0;
  bool ok = !value.empty() && value.size() <= 6;
  for (const char c : value) {
    ok = ok && c >= '0' && c <= '9';
    if (ok) minutes = minutes * 10 + (c - '0');
  }
  if (!ok || minutes < 1 || minutes > kMaxStallMinutes) {
    print(os, msg::kStallValueMalformed, static_cast<int>(value.size()), value.data());
    ctx.stall = 0;
    return;
  }
  ctx.stall = minutes;
}

// A cut file name or command would be another one: refused whole.
void set_text(Os& os, ControllerContext& ctx, char (&field)[kTextField], const char* name, std::string_view value) {
  if (value.size() > static_cast<std::size_t>(kTextField - 1)) {
    refuse(os, ctx, msg::kOptInValueTooLong, name);
    return;
  }
  std::memcpy(field, value.data(), value.size());
  field[value.size()] = '\0';
}

void apply(Os& os, ControllerContext& ctx, int keyword, std::string_view value) {
  switch (keyword) {
    case oi_CONNECT:
      set_connect(os, ctx, value);
      break;
    case oi_HISTORY:
      set_text(os, ctx, ctx.history, msg::kNameHistory, value);
      break;
    case oi_EXECEMPTY:
      set_text(os, ctx, ctx.execempty, msg::kNameExecempty, value);
      break;
    case oi_STALL:
      set_stall(os, ctx, value);
      break;
  }
}

}  // namespace

bool read_opt_in_line(Os& os, ControllerContext& ctx, const char* word, char* rest, bool cut) {
  const int keyword = find_keyword(kOptInKeywords, word);
  if (keyword > oi_STALL) return false;
  skip_blanks(rest);
  if (take_char(rest) != '=') {
    static const char* const kForms[] = {msg::kFormConnect, msg::kFormHistory, msg::kFormExecempty};
    if (keyword == oi_CONNECT) {
      print(os, msg::kConnectLineMalformed, kForms[keyword]);
      ctx.connect_start = -1;
      ctx.connect_end = -1;
      return true;
    }
    if (keyword == oi_STALL) {
      print(os, msg::kStallLineMalformed);
      ctx.stall = 0;
      return true;
    }
    refuse(os, ctx, msg::kOptInLineMalformed, kForms[keyword]);
    return true;
  }
  if (cut) {
    // Longer than any value held. The rest of the line is read as lines of
    // its own, and reported there.
    static const char* const kNames[] = {msg::kNameConnect, msg::kNameHistory, msg::kNameExecempty};
    if (keyword == oi_CONNECT) {
      set_connect(os, ctx, msg::kOverlongValueShownAs);
    } else if (keyword == oi_STALL) {
      set_stall(os, ctx, msg::kOverlongValueShownAs);
    } else {
      refuse(os, ctx, msg::kOptInValueTooLong, kNames[keyword]);
    }
    return true;
  }
  apply(os, ctx, keyword, trimmed(rest));
  return true;
}

int parse_opt_in_option(Os& os, ControllerContext& ctx, const char* option, const char* next) {
  const int keyword = find_keyword(kOptInKeywords, option);
  if (keyword != oi_CONNECT && keyword != oi_EXECEMPTY && keyword != oi_STALL) return 0;
  if (next == nullptr) {
    if (keyword == oi_CONNECT) {
      print(os, msg::kConnectOptionWithoutValue);
      ctx.connect_start = -1;
      ctx.connect_end = -1;
    } else if (keyword == oi_STALL) {
      print(os, msg::kStallOptionWithoutValue);
      ctx.stall = 0;
    } else {
      refuse(os, ctx, msg::kExecemptyOptionWithoutValue);
    }
    return 1;
  }
  apply(os, ctx, keyword, keyword == oi_EXECEMPTY ? std::string_view(next) : trimmed(next));
  return 2;
}

void dump_opt_in(Os& os, const ControllerContext& ctx) {
  if (ctx.connect_start >= 0)
    print(os, msg::kDumpConnect, format_hhmm(ctx.connect_start).c_str(), format_hhmm(ctx.connect_end).c_str());
  if (ctx.history[0] != '\0') print_showing(os, ctx.history, msg::kDumpJournal, kVerbatim);
  if (ctx.execempty[0] != '\0') print_showing(os, ctx.execempty, msg::kDumpEmptyHook, kVerbatim);
  if (ctx.stall > 0) print(os, msg::kDumpStall, ctx.stall);
}

}  // namespace vorcnt
