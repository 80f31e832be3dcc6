#include "json_writer.h"

#include <cmath>
#include <cstdio>

#include "encoding.h"
#include "report_text.h"

namespace vorcnt::vorstat {

namespace {

// The well-formed sequences of `text`, each other byte as U+FFFD.
std::string utf8_replacing(std::string_view text) {
  if (is_valid_utf8(text)) return std::string(text);
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    const std::size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    if (at + n <= text.size() && is_valid_utf8(text.substr(at, n))) {
      out.append(text.substr(at, n));
      at += n;
    } else {
      out += "\xEF\xBF\xBD";
      ++at;
    }
  }
  return out;
}

std::string utf8_of(std::string_view text, TextFrom from) {
  switch (from) {
    case TextFrom::cp932: return cp932_to_utf8(text);
    case TextFrom::native: return is_valid_utf8(text) ? std::string(text) : cp932_to_utf8(text);
    case TextFrom::utf8: return utf8_replacing(text);
  }
  return std::string();
}

}  // namespace

std::string json_string(std::string_view text, TextFrom from) {
  const std::string utf8 = utf8_of(text, from);
  std::string out = "\"";
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = next_code_point(utf8, pos);
    switch (cp) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (cp < 0x20 || (cp >= 0x7F && cp <= 0xFFFF)) {
          appendf(out, "\\u%04x", static_cast<unsigned>(cp));
        } else if (cp > 0xFFFF) {
          const char32_t v = cp - 0x10000;
          appendf(out, "\\u%04x\\u%04x", static_cast<unsigned>(0xD800 + (v >> 10)),
                  static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
        } else {
          out += static_cast<char>(cp);
        }
    }
  }
  out += '"';
  return out;
}

std::string json_number(double value) {
  if (!std::isfinite(value)) return "null";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  std::string out = buf;
  if (out.find_first_of(".e") == std::string::npos) out += ".0";
  return out;
}

std::string json_fixed(double value, int places) {
  if (!std::isfinite(value)) return "null";
  std::string out;
  appendf(out, "%.*f", places, value);
  return out;
}

JsonObject& JsonObject::raw(std::string_view name, std::string_view json) {
  if (!out_.empty()) out_ += layout_ == JsonLayout::lines ? ",\n  " : ", ";
  out_ += '"';
  out_ += name;
  out_ += "\": ";
  out_ += json;
  return *this;
}

std::string JsonObject::close() const {
  if (layout_ == JsonLayout::lines) return "{\n  " + out_ + "\n}\n";
  return out_.empty() ? "{}" : "{" + out_ + "}";
}

std::string json_list(const std::vector<std::string>& items, JsonLayout layout) {
  if (items.empty()) return "[]";
  const bool lines = layout == JsonLayout::lines;
  std::string out = lines ? "[\n    " : "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += lines ? ",\n    " : ", ";
    out += items[i];
  }
  return out + (lines ? "\n  ]" : "]");
}

}  // namespace vorcnt::vorstat
