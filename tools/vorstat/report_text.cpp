#include "report_text.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace vorcnt::vorstat {

void appendf(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (n > 0) {
    const std::size_t old_size = out.size();
    out.resize(old_size + static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data() + old_size, static_cast<std::size_t>(n) + 1, format, again);
    out.resize(old_size + static_cast<std::size_t>(n));
  }
  va_end(again);
}

void Pieces::write(std::string_view bytes) {
  if (pieces_.size() % 2 == 0) pieces_.emplace_back();
  pieces_.back().append(bytes);
}

void Pieces::write_verbatim(std::string_view bytes) {
  if (pieces_.size() % 2 == 1) pieces_.emplace_back();
  pieces_.back().append(bytes);
}

void Pieces::showing(std::string_view line, std::initializer_list<std::string_view> shown) {
  auto next = shown.begin();
  for (std::size_t at; next != shown.end() && (at = line.find(kVerbatim)) != std::string_view::npos; ++next) {
    write(line.substr(0, at));
    write_verbatim(*next);
    line.remove_prefix(at + 1);
  }
  write(line);
}

void write_pieces(const std::vector<std::string>& pieces, Console& out) {
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].empty()) continue;
    if (i % 2 == 0)
      out.write(pieces[i]);
    else
      out.write_verbatim(pieces[i]);
  }
}

void say(Console& out, std::string_view line, std::initializer_list<std::string_view> shown) {
  Pieces pieces;
  pieces.showing(line, shown);
  pieces.write_to(out);
}

bool credible_progress(double percent) { return percent >= 0 && percent <= 100; }

std::string printable(std::string_view text) {
  std::string out;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else if (c < 0x20 || c == 0x7F)
      appendf(out, "\\x%02X", c);
    else
      out += ch;
  }
  return out;
}

std::string duration(double seconds) {
  if (!std::isfinite(seconds)) return "?";
  std::string out;
  if (seconds < 0) {
    out = "-";
    seconds = -seconds;
  }
  if (seconds >= 1e15) {
    appendf(out, "%.3gs", seconds);
    return out;
  }
  const auto s = static_cast<long long>(seconds);
  if (s < 60)
    appendf(out, "%llds", s);
  else if (s < 3600)
    appendf(out, "%lldm%02llds", s / 60, s % 60);
  else if (s < 86400)
    appendf(out, "%lldh%02lldm", s / 3600, s % 3600 / 60);
  else
    appendf(out, "%lldd%02lldh", s / 86400, s % 86400 / 3600);
  return out;
}

const char* ext_of(const ClientSnapshot& snap) { return kExtensions[snap.ext_index == 1 ? 1 : 0]; }

}  // namespace vorcnt::vorstat
