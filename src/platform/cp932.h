// Code page 932 to UTF-8 on POSIX, where iconv does the work: the one
// converter behind the console on a UTF-8 terminal and behind vorstat's JSON.
#pragma once

#include <string>
#include <string_view>

namespace vorcnt {

class Cp932ToUtf8 {
 public:
  // What a byte that is not CP932 becomes: passed on as it is (the console
  // shows what it was given), or U+FFFD (the result must be valid UTF-8).
  enum class Bad { pass_raw, replace };

  explicit Cp932ToUtf8(Bad bad);
  ~Cp932ToUtf8();
  Cp932ToUtf8(const Cp932ToUtf8&) = delete;
  Cp932ToUtf8& operator=(const Cp932ToUtf8&) = delete;

  // False when this system has no CP932 table; nothing converts then.
  bool usable() const;

  // Appends the conversion of any held byte and `bytes` to `out`. A
  // double-byte character split across two calls is held until its second
  // byte arrives.
  void convert(std::string_view bytes, std::string* out);

  // Hands over a held lead byte (nothing more is coming): as it is, or as
  // U+FFFD.
  void release(std::string* out);

 private:
  void* cd_;
  Bad bad_;
  std::string held_;
};

}  // namespace vorcnt
