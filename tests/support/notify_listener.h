// A stand-in for the service manager's socket: a bound datagram socket that
// takes the messages a ServiceNotifier sends to `name` (a path, or an
// abstract name written with a leading '@').
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace vorcnt::testing {

struct NotifyListener {
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  explicit NotifyListener(const std::string& name) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, name.data(), name.size());
    if (name[0] == '@') addr.sun_path[0] = '\0';
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), length), 0) << name;
  }
  ~NotifyListener() { ::close(fd); }
  NotifyListener(const NotifyListener&) = delete;
  NotifyListener& operator=(const NotifyListener&) = delete;

  // The next message, or "(none)" when none is waiting.
  std::string next() { return take(MSG_DONTWAIT, nullptr); }
  // Waits for the next message; `sent` gets the kernel's time of its sending
  // (seconds), which a busy reader cannot delay.
  std::string next_timed(double* sent) {
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
    const timeval patience = {10, 0};  // then "(none)": a sender that went quiet
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    return take(0, sent);
  }

 private:
  std::string take(int flags, double* sent) {
    char buf[256];
    iovec data = {buf, sizeof buf};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timeval))];
    msghdr msg = {};
    msg.msg_iov = &data;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &msg, flags);
    if (n < 0) return "(none)";
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); sent != nullptr && c != nullptr; c = CMSG_NXTHDR(&msg, c))
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMP) {
        timeval tv;
        std::memcpy(&tv, CMSG_DATA(c), sizeof tv);
        *sent = static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
      }
    return std::string(buf, static_cast<std::size_t>(n));
  }
};

}  // namespace vorcnt::testing
