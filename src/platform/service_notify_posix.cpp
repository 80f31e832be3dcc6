// POSIX backend of the service manager's notifications: a datagram socket,
// opened once, with no library between us and the protocol.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/posix_io.h"
#include "platform/service_notify.h"

namespace vorcnt {

namespace {

// A whole number of at most 18 digits; -1 for anything else.
long long whole_number(const char* text) {
  if (text == nullptr || *text == '\0' || std::strlen(text) > 18) return -1;
  long long n = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return -1;
    n = n * 10 + (*p - '0');
  }
  return n;
}

}  // namespace

ServiceNotifier::ServiceNotifier() {
  static_assert(sizeof(sockaddr_un) <= sizeof address_);
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (name == nullptr || (name[0] != '/' && name[0] != '@')) return;
  const std::size_t length = std::strlen(name);
  sockaddr_un addr{};
  if (length < 2 || length >= sizeof addr.sun_path) return;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, name, length);
  if (name[0] == '@') addr.sun_path[0] = '\0';  // an abstract name: its length counts, no terminator
  address_length_ = static_cast<unsigned>(offsetof(sockaddr_un, sun_path) + length + (name[0] == '/' ? 1 : 0));
  std::memcpy(address_, &addr, sizeof addr);
  handle_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (handle_ < 0) return;
  // The watchdog is ours only when it names no other process.
  const long long usec = whole_number(std::getenv("WATCHDOG_USEC"));
  const char* pid_text = std::getenv("WATCHDOG_PID");
  const bool ours = pid_text == nullptr || whole_number(pid_text) == static_cast<long long>(::getpid());
  if (usec > 0 && ours) ping_ms_ = usec / 3000 > 0 ? usec / 3000 : 1;
}

ServiceNotifier::~ServiceNotifier() {
  if (handle_ >= 0) ::close(handle_);
}

void ServiceNotifier::send(std::string_view message) {
  if (handle_ < 0) return;
  retry_on_eintr([&] {
    return ::sendto(handle_, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(address_),
                    static_cast<socklen_t>(address_length_));
  });
}

}  // namespace vorcnt
