#include "bench_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/posix_commands.h"

namespace vorcnt::bench {

namespace fs = std::filesystem;

void write_file(const std::string& path, const std::string& contents) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void make_folder(const std::string& path) { fs::create_directories(path); }

std::string state_file_text() {
  std::string text =
      "ncfft=131072\n"
      "cr=-2.546180e+01\n"
      "fl=8.000000e+00\n"
      "cpu=18234.562500\n"
      "prog=0.43215678\n"
      "bs_power=2.187365e+01\n"
      "bs_score=1.093683e+00\n"
      "bs_bin=48211\n"
      "bs_fft_ind=3\n"
      "bs_chirp_rate=-1.273090e+01\n"
      "bs_fft_len=65536\n"
      "bg_score=3.285416e-01\n"
      "bg_sigma=2.718300e+00\n"
      "bg_power=2.847591e+00\n"
      "bg_true_mean=1.000124e+00\n"
      "bg_chisq=1.874523e+00\n"
      "bg_bin=12077\n"
      "bg_fft_ind=211\n"
      "bg_chirp_rate=4.291870e+00\n"
      "bg_fft_len=16384\n";
  // The Gaussian's power profile: the client writes one line per sample.
  char line[64];
  for (int i = 0; i < 20; ++i) {
    std::snprintf(line, sizeof line, "bg_pot=%d,%.6f\n", i * 3, 0.125 + 0.0371 * i);
    text += line;
  }
  return text;
}

std::string user_info_text() {
  return "id=1234567\n"
         "key=9f3a2b7c1d4e5f60718293a4b5c6d7\n"
         "email_addr=someone@example.net\n"
         "name=Taro Yamada\n"
         "url=http://example.net/~taro/\n"
         "country=Japan\n"
         "postal_code=100-0001\n"
         "show_name=yes\n"
         "show_email=no\n"
         "venue=home\n"
         "register_time=2451234.56789 (Mon Mar 01 12:34:56 1999)\n"
         "last_wu_time=2452012.41234 (Sat Apr 20 21:53:46 2001)\n"
         "last_result_time=2452011.90871 (Sat Apr 20 09:48:32 2001)\n"
         "nwus=321\n"
         "nresults=318\n"
         "total_cpu=9876543.210000\n"
         "params_index=0\n";
}

std::string version_text() { return "major_version=3\nminor_version=3\n"; }

std::string work_unit_data(std::size_t bytes) {
  // Printable, line-broken and not compressible, like the encoded samples
  // of a real work unit.
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string data;
  data.reserve(bytes);
  std::uint32_t x = 0x9E3779B9u;
  while (data.size() < bytes) {
    if (data.size() % 65 == 64) {
      data += '\n';
      continue;
    }
    x = x * 1664525u + 1013904223u;
    data += kAlphabet[x >> 26];
  }
  return data;
}

std::vector<ClientFile> computing_unit_files(std::size_t work_unit_bytes) {
  return {
      {"version.vwu", version_text()},
      {"work_unit.vwu", work_unit_data(work_unit_bytes)},
      {"user_info.vwu", user_info_text()},
      {"state.vwu", state_file_text()},
      {"outfile.vwu", std::string(96, 'o') + "\n"},
  };
}

int CommandLayerShell::run(const std::string& command_line) { return run_posix_command(command_line); }

SwapFolder::SwapFolder(const char* base) : scratch(base), path(scratch.path() + "client/") {
  for (const ClientFile& f : files) write_file(path + f.name, f.contents);
  make_folder(path + "unit0");
}

bool SwapFolder::round_trip_intact() const {
  for (const ClientFile& f : files) {
    std::error_code ec;
    if (fs::file_size(path + f.name, ec) != f.contents.size() || ec) return false;
  }
  return fs::is_empty(path + "unit0");
}

namespace {

bool copy_keeping_mtime(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  int out = -1;
  bool ok = ::fstat(in, &st) == 0 &&
            (out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)) >= 0;
  off_t left = ok ? st.st_size : 0;
  while (ok && left > 0) {
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(left), 0);
    if (n <= 0) ok = false;
    left -= n;
  }
  if (ok) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ok = ::futimens(out, times) == 0;
  }
  if (out >= 0) ::close(out);
  ::close(in);
  return ok;
}

// True when both files hold the same bytes, read as a move must read them
// before it may delete the source.
bool same_bytes(const std::string& a, const std::string& b) {
  int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
  int fb = ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
  bool same = fa >= 0 && fb >= 0;
  static char buf_a[1 << 16];
  static char buf_b[1 << 16];
  while (same) {
    const ssize_t na = ::read(fa, buf_a, sizeof buf_a);
    const ssize_t nb = ::read(fb, buf_b, sizeof buf_b);
    if (na != nb || na < 0 || std::memcmp(buf_a, buf_b, static_cast<std::size_t>(na)) != 0) same = false;
    if (na <= 0) break;
  }
  if (fa >= 0) ::close(fa);
  if (fb >= 0) ::close(fb);
  return same;
}

}  // namespace

bool move_files(const std::vector<std::string>& names, const std::string& from, const std::string& to) {
  for (const std::string& n : names)
    if (!copy_keeping_mtime(from + n, to + n)) return false;
  for (const std::string& n : names)
    if (!same_bytes(from + n, to + n)) return false;
  for (const std::string& n : names)
    if (::unlink((from + n).c_str()) != 0) return false;
  return true;
}

}  // namespace vorcnt::bench
