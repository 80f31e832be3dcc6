#include "app/status_publisher.h"

#include <cstring>
#include <string>

#include "engine/file_names.h"
#include "platform/files.h"

namespace vorcnt {

StatusPublisher::StatusPublisher(ServiceNotifier& notifier, std::int64_t started)
    : notifier_(notifier), started_(started), pid_(current_process_id()) {}

void StatusPublisher::publish(Clock& clock, const ControllerContext& ctx) {
  const ControllerStatus now = observe_status(ctx, last_, clock);
  if (published_ && now == last_) return;
  // The file follows the controller's state, not each step of the client's
  // progress (vorstat reads that from the client): a long computation
  // rewrites nothing beside the client's own files.
  ControllerStatus settled = now;
  settled.progress_permille = last_.progress_permille;
  const bool file_stale = !published_ || !(settled == last_);
  published_ = true;
  last_ = now;
  char line[sizeof line_];
  status_line(now, clock, line, sizeof line);
  // The file is advisory: one that cannot be written is left to the next change.
  if (file_stale)
    (void)replace_small_file(client_file(ctx.path, kStatusFileName),
                             status_file_text(now, pid_, started_, clock.now_utc(), line));
  if (!notifier_.active() || std::strcmp(line, line_) == 0) return;
  std::memcpy(line_, line, sizeof line_);
  notifier_.send(std::string("STATUS=") + line);
}

namespace {

class PublishingClock final : public Clock {
 public:
  PublishingClock(Clock& inner, StatusPublisher& publisher, const ControllerContext& ctx)
      : inner_(inner), publisher_(publisher), ctx_(ctx) {}
  void sleep_seconds(int seconds) override {
    publisher_.publish(inner_, ctx_);
    inner_.sleep_seconds(seconds);
  }
  std::int64_t now_utc() override { return inner_.now_utc(); }
  double pause_clock_seconds() override { return inner_.pause_clock_seconds(); }
  std::int64_t wall_after(std::int64_t seconds) override { return inner_.wall_after(seconds); }
  std::int64_t pause_until(std::int64_t utc) override { return inner_.pause_until(utc); }
  LocalTime local_time(std::int64_t utc) override { return inner_.local_time(utc); }

 private:
  Clock& inner_;
  StatusPublisher& publisher_;
  const ControllerContext& ctx_;
};

}  // namespace

std::unique_ptr<Clock> make_publishing_clock(Clock& inner, StatusPublisher& publisher, const ControllerContext& ctx) {
  return std::make_unique<PublishingClock>(inner, publisher, ctx);
}

}  // namespace vorcnt
