// The controller's own state, published when it changes and only then: the
// file vorcnt.status in the client folder, for vorstat, and a status line for
// a service manager that listens. Both are advisory.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/controller_status.h"
#include "ground/context.h"
#include "platform/os.h"
#include "platform/service_notify.h"

namespace vorcnt {

class StatusPublisher {
 public:
  StatusPublisher(ServiceNotifier& notifier, std::int64_t started);
  // Publishes what `ctx` shows now, when it differs from what was last
  // published. An unchanged state costs one look and no write.
  void publish(Clock& clock, const ControllerContext& ctx);

 private:
  ServiceNotifier& notifier_;
  std::int64_t started_;
  int pid_;
  bool published_ = false;
  ControllerStatus last_;
  char line_[128] = {};
};

// A clock like `inner` that publishes `ctx` before each pause: every pass of
// the loop ends in one, after its state has changed.
std::unique_ptr<Clock> make_publishing_clock(Clock& inner, StatusPublisher& publisher, const ControllerContext& ctx);

}  // namespace vorcnt
