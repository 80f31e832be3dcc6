// The wall-clock half of the seam that needs no operating system: civil
// dates from seconds, and the base clock's UTC and pause-clock readings.
#include <chrono>
#include <ctime>
#include <memory>

#include "platform/clock_backend.h"
#include "platform/os.h"
#include "platform/service_notify.h"
#include "platform/time_scale.h"

namespace vorcnt {

LocalTime civil_time(std::int64_t utc, std::int32_t offset_seconds) {
  LocalTime t;
  t.utc_seconds = utc;
  t.offset_seconds = offset_seconds;
  const std::int64_t local = utc + offset_seconds;
  std::int64_t days = local / 86400;
  std::int64_t rest = local % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest % 3600 / 60);
  t.second = static_cast<int>(rest % 60);
  // Days since 1970-01-01 to a proleptic Gregorian date (era arithmetic).
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
  return t;
}

std::int64_t Clock::now_utc() { return static_cast<std::int64_t>(std::time(nullptr)); }

LocalTime Clock::local_time(std::int64_t utc) { return civil_time(utc, 0); }

double Clock::pause_clock_seconds() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration<double>(since).count() / time_scale();
}

// Rounded by hand, as scaled_milliseconds does: std::llround and std::ceil
// would map the maths library into a process that otherwise never needs it.
std::int64_t Clock::wall_after(std::int64_t seconds) {
  const double scaled = static_cast<double>(seconds) * time_scale();
  return now_utc() + static_cast<std::int64_t>(scaled >= 0 ? scaled + 0.5 : scaled - 0.5);
}

std::int64_t Clock::pause_until(std::int64_t utc) {
  const std::int64_t left = utc - now_utc();
  if (left <= 0) return 0;
  const double scaled = static_cast<double>(left) / time_scale();
  const auto whole = static_cast<std::int64_t>(scaled);
  return whole + (scaled > static_cast<double>(whole) ? 1 : 0);
}

namespace {

// The console is flushed before each pause, so that a stop during a long
// pause loses no line.
class RealClock final : public Clock {
 public:
  explicit RealClock(Console& console) : console_(console) {}
  void sleep_seconds(int seconds) override {
    console_.flush();
    const long long ms = scaled_milliseconds(seconds);
    if (ms > 0) pause_milliseconds(ms);
  }
  LocalTime local_time(std::int64_t utc) override { return zone_local_time(utc); }

 private:
  Console& console_;
};

// The watchdog must hear from a live loop during its long pauses (TIME may
// be ten hours), so each pause is slept in pieces with a ping after each.
class PingingClock final : public Clock {
 public:
  PingingClock(Clock& inner, ServiceNotifier& notifier) : inner_(inner), notifier_(notifier) {}
  void sleep_seconds(int seconds) override {
    inner_.sleep_seconds(0);  // what the inner clock does before any pause
    notifier_.send("WATCHDOG=1");
    const long long piece = notifier_.ping_interval_ms();
    for (long long left = scaled_milliseconds(seconds); left > 0; left -= piece) {
      pause_milliseconds(left < piece ? left : piece);
      notifier_.send("WATCHDOG=1");
    }
  }
  std::int64_t now_utc() override { return inner_.now_utc(); }
  double pause_clock_seconds() override { return inner_.pause_clock_seconds(); }
  LocalTime local_time(std::int64_t utc) override { return inner_.local_time(utc); }

 private:
  Clock& inner_;
  ServiceNotifier& notifier_;
};

}  // namespace

std::unique_ptr<Clock> make_pinging_clock(Clock& inner, ServiceNotifier& notifier) {
  return std::make_unique<PingingClock>(inner, notifier);
}

std::unique_ptr<Clock> make_real_clock(Console& console) { return std::make_unique<RealClock>(console); }

}  // namespace vorcnt
