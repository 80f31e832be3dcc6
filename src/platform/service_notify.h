// The service manager's word from us: readiness, a status line, a stop and the
// watchdog's ping, each one datagram to the socket NOTIFY_SOCKET names (a path,
// or an abstract name written with a leading '@'). Without NOTIFY_SOCKET
// nothing is sent and no pause is cut short. One backend per platform; on
// Windows there is no such manager and nothing is ever sent.
#pragma once

#include <memory>
#include <string_view>

#include "platform/os.h"

namespace vorcnt {

class ServiceNotifier {
 public:
  // Reads NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID once.
  ServiceNotifier();
  ~ServiceNotifier();
  ServiceNotifier(const ServiceNotifier&) = delete;
  ServiceNotifier& operator=(const ServiceNotifier&) = delete;

  bool active() const { return handle_ >= 0; }
  // Sends one message ("READY=1", "STATUS=...", "WATCHDOG=1"). A send that
  // fails is dropped: the manager's view is advisory to the work.
  void send(std::string_view message);
  // How often the watchdog wants a ping, in milliseconds: a third of
  // WATCHDOG_USEC, so that at least two reach it in each period whatever the
  // pass around the pause costs. 0 when no watchdog watches this process.
  long long ping_interval_ms() const { return ping_ms_; }

 private:
  int handle_ = -1;
  unsigned address_length_ = 0;
  char address_[128] = {};
  long long ping_ms_ = 0;
};

// A clock like `inner` whose pauses are cut into pieces no longer than the
// notifier's ping interval, with a ping at the start of each pause and after
// each piece. Only for a notifier with a watchdog.
std::unique_ptr<Clock> make_pinging_clock(Clock& inner, ServiceNotifier& notifier);

}  // namespace vorcnt
