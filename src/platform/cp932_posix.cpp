// Code page 932 to UTF-8 through iconv.
#include "platform/cp932.h"

#include <iconv.h>

#include <cerrno>

namespace vorcnt {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

iconv_t handle(void* cd) { return static_cast<iconv_t>(cd); }

}  // namespace

Cp932ToUtf8::Cp932ToUtf8(Bad bad) : cd_(::iconv_open("UTF-8", "CP932")), bad_(bad) {}

Cp932ToUtf8::~Cp932ToUtf8() {
  if (usable()) ::iconv_close(handle(cd_));
}

bool Cp932ToUtf8::usable() const { return handle(cd_) != reinterpret_cast<iconv_t>(-1); }

void Cp932ToUtf8::convert(std::string_view bytes, std::string* out) {
  std::string input = held_;
  input.append(bytes);
  held_.clear();
  char* src = input.data();
  std::size_t left = input.size();
  char chunk[1024];
  while (left > 0) {
    char* dst = chunk;
    std::size_t room = sizeof chunk;
    std::size_t r = ::iconv(handle(cd_), &src, &left, &dst, &room);
    out->append(chunk, static_cast<std::size_t>(dst - chunk));
    if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    if (errno == EINVAL) {  // a lead byte at the very end
      held_.assign(src, left);
      return;
    }
    if (bad_ == Bad::replace)
      out->append(kReplacement);
    else
      out->push_back(*src);
    ++src;
    --left;
    ::iconv(handle(cd_), nullptr, nullptr, nullptr, nullptr);
  }
}

void Cp932ToUtf8::release(std::string* out) {
  if (bad_ == Bad::replace) {
    for (std::size_t i = 0; i < held_.size(); ++i) out->append(kReplacement);
  } else {
    out->append(held_);
  }
  held_.clear();
}

}  // namespace vorcnt
