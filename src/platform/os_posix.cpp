// POSIX backend of the seam.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/os.h"
#include "platform/posix_commands.h"
#include "platform/time_scale.h"

namespace vorcnt {

namespace {

// Writes everything, retrying on short writes and EINTR.
void write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

// Turns the program's CP932 bytes into UTF-8 for a terminal that reads
// UTF-8. A double-byte character split across two writes is held until its
// second byte arrives; bytes that do not convert pass through raw.
class Cp932ToUtf8 {
 public:
  Cp932ToUtf8() : cd_(::iconv_open("UTF-8", "CP932")) {}
  ~Cp932ToUtf8() {
    if (usable()) ::iconv_close(cd_);
  }
  Cp932ToUtf8(const Cp932ToUtf8&) = delete;
  Cp932ToUtf8& operator=(const Cp932ToUtf8&) = delete;

  bool usable() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Appends the conversion of any held byte and `bytes` to `out`.
  void convert(std::string_view bytes, std::string* out) {
    std::string input = held_;
    input.append(bytes);
    held_.clear();
    char* src = input.data();
    std::size_t left = input.size();
    char chunk[1024];
    while (left > 0) {
      char* dst = chunk;
      std::size_t room = sizeof chunk;
      std::size_t r = ::iconv(cd_, &src, &left, &dst, &room);
      out->append(chunk, static_cast<std::size_t>(dst - chunk));
      if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
      if (errno == EINVAL) {  // a lead byte at the very end
        held_.assign(src, left);
        return;
      }
      out->push_back(*src);  // not CP932: pass the byte on as it is
      ++src;
      --left;
      ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
  }

  // Hands over a held lead byte unconverted (nothing more is coming).
  void release(std::string* out) {
    out->append(held_);
    held_.clear();
  }

 private:
  iconv_t cd_;
  std::string held_;
};

// True when the locale the user set (LC_ALL, LC_CTYPE, LANG) reads UTF-8.
// Asked through a locale object of its own so that the program's global
// locale, and with it number formatting and byte classification, stays "C".
bool locale_is_utf8() {
  locale_t loc = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (loc != static_cast<locale_t>(0)) {
    const char* codeset = ::nl_langinfo_l(CODESET, loc);
    bool utf8 = codeset != nullptr && (::strcasecmp(codeset, "UTF-8") == 0 || ::strcasecmp(codeset, "UTF8") == 0);
    ::freelocale(loc);
    return utf8;
  }
  // The named locale is not installed; its name still says what the
  // terminal expects.
  const char* name = nullptr;
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    name = std::getenv(var);
    if (name != nullptr && *name != '\0') break;
  }
  if (name == nullptr) return false;
  const char* dot = std::strchr(name, '.');
  if (dot == nullptr) return false;
  std::string codeset(dot + 1, std::strcspn(dot + 1, "@"));
  return ::strcasecmp(codeset.c_str(), "UTF-8") == 0 || ::strcasecmp(codeset.c_str(), "UTF8") == 0;
}

// A terminal gets each text at once (converted to UTF-8 when its locale
// reads UTF-8); a file or pipe gets the raw bytes in 512-byte blocks, with
// the rest written before every command and at exit.
class RealConsole final : public Console {
 public:
  RealConsole() : terminal_(::isatty(STDOUT_FILENO) == 1) {
    if (terminal_ && locale_is_utf8()) {
      auto converter = std::make_unique<Cp932ToUtf8>();
      if (converter->usable()) converter_ = std::move(converter);
    }
  }
  ~RealConsole() override { flush(); }

  void write(std::string_view bytes) override {
    if (terminal_) {
      if (converter_ == nullptr) {
        write_all(STDOUT_FILENO, bytes.data(), bytes.size());
        return;
      }
      std::string out;
      converter_->convert(bytes, &out);
      write_all(STDOUT_FILENO, out.data(), out.size());
      return;
    }
    buffer_.append(bytes);
    if (buffer_.size() >= kBlock) {
      std::size_t whole = buffer_.size() - buffer_.size() % kBlock;
      write_all(STDOUT_FILENO, buffer_.data(), whole);
      buffer_.erase(0, whole);
    }
  }

  void write_verbatim(std::string_view bytes) override {
    if (converter_ == nullptr) {
      write(bytes);
      return;
    }
    std::string out;
    converter_->release(&out);  // a lead byte held from before cannot be completed now
    out.append(bytes);
    write_all(STDOUT_FILENO, out.data(), out.size());
  }

  void flush() override {
    if (converter_ != nullptr) converter_->release(&buffer_);
    if (buffer_.empty()) return;
    write_all(STDOUT_FILENO, buffer_.data(), buffer_.size());
    buffer_.clear();
  }

 private:
  static constexpr std::size_t kBlock = 512;
  bool terminal_;
  std::unique_ptr<Cp932ToUtf8> converter_;
  std::string buffer_;
};

class RealClock final : public Clock {
 public:
  explicit RealClock(Console& console) : console_(console) {}
  void sleep_seconds(int seconds) override {
    console_.flush();
    long long ms = scaled_milliseconds(seconds);
    if (ms <= 0) return;
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(ms / 1000);
    ts.tv_nsec = static_cast<long>((ms % 1000) * 1000000L);
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }
  LocalTime local_time(std::int64_t utc) override {
    const time_t t = static_cast<time_t>(utc);
    struct tm tm_local;
    if (::localtime_r(&t, &tm_local) == nullptr) return civil_time(utc, 0);
    return civil_time(utc, static_cast<std::int32_t>(tm_local.tm_gmtoff));
  }

 private:
  Console& console_;
};

class RealShell final : public Shell {
 public:
  explicit RealShell(Console& console) : console_(console) {}
  int run(const std::string& command_line) override {
    console_.flush();
    std::fflush(nullptr);  // anything written through stdio, too
    return run_posix_command(command_line);
  }

 private:
  Console& console_;
};

}  // namespace

std::unique_ptr<Console> make_real_console() { return std::make_unique<RealConsole>(); }
std::unique_ptr<Shell> make_real_shell(Console& console) { return std::make_unique<RealShell>(console); }
std::unique_ptr<Clock> make_real_clock(Console& console) { return std::make_unique<RealClock>(console); }

bool could_not_start(int status) { return status == -1 || status == 126 || status == 127; }

}  // namespace vorcnt
