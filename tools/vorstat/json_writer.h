// The one JSON writer of vorstat's reports (the buffer's and the journal's):
// ASCII only, every other character a \u escape of its Unicode value, and a
// number only when it is finite, since JSON has no NaN or infinity.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorcnt::vorstat {

// Where a text's bytes come from, which decides how they are read.
enum class TextFrom {
  cp932,   // the client's files: always code page 932
  native,  // names from the file system or the command line: UTF-8 when valid, else code page 932
  utf8,    // the unit journal: UTF-8; a byte that is not becomes U+FFFD
};

// A JSON string of `text`.
std::string json_string(std::string_view text, TextFrom from);
// The shortest form that keeps a fraction ("5400.5", "36000.0"); null when not finite.
std::string json_number(double value);
// With `places` decimals ("7200.000"); null when not finite.
std::string json_fixed(double value, int places);

enum class JsonLayout {
  one_line,  // {"a": 1, "b": 2} and [1, 2]
  lines,     // a report's top level: one field per line, and lists of one item per line below it
};

// An object whose fields follow in the order they are added.
class JsonObject {
 public:
  explicit JsonObject(JsonLayout layout = JsonLayout::one_line) : layout_(layout) {}
  // `json` is already JSON.
  JsonObject& raw(std::string_view name, std::string_view json);
  JsonObject& text(std::string_view name, std::string_view value, TextFrom from) {
    return raw(name, json_string(value, from));
  }
  JsonObject& integer(std::string_view name, long long value) { return raw(name, std::to_string(value)); }
  JsonObject& boolean(std::string_view name, bool value) { return raw(name, value ? "true" : "false"); }
  // null when not `known` (or not finite).
  JsonObject& number(std::string_view name, double value, bool known = true) {
    return raw(name, known ? json_number(value) : "null");
  }
  JsonObject& fixed(std::string_view name, double value, int places, bool known = true) {
    return raw(name, known ? json_fixed(value, places) : "null");
  }
  // The object, ending in a line end when laid out in lines.
  std::string close() const;

 private:
  JsonLayout layout_;
  std::string out_;
};

// A list of JSON values; laid out in lines, its items are indented as those
// of a top-level field.
std::string json_list(const std::vector<std::string>& items, JsonLayout layout);

}  // namespace vorcnt::vorstat
