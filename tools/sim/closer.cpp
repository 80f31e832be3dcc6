#include "closer.h"

#include <cctype>

#include "sim_files.h"
#include "sim_os.h"

namespace vorcnt::sim {

namespace {

constexpr long long kPollMs = 5;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Waits until `done` holds or the client `pid` has ended; false on timeout.
template <typename Done>
bool wait_for(Done done, int pid, long long timeout_ms) {
  long long deadline = monotonic_ms() + timeout_ms;
  while (!done()) {
    if (!process_alive(pid)) return true;
    if (monotonic_ms() >= deadline) return false;
    sleep_ms(kPollMs);
  }
  return true;
}

bool registered(const RunFolder& run, int pid) {
  auto reg = read_registration(run);
  return reg && reg->pid == pid;
}

}  // namespace

CloserRequest parse_closer_args(const std::vector<std::string>& args) {
  CloserRequest request;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string word = lower(args[i]);
    if (!word.empty() && (word[0] == '-' || word[0] == '/')) word.erase(0, 1);
    if (word == "exit" || word == "close" || word == "connect") {
      request.order = word;
    } else if (word == "echo" && i + 1 < args.size() && (lower(args[i + 1]) == "off" || lower(args[i + 1]) == "on")) {
      request.echo = lower(args[++i]) == "on";
    } else {
      request.error = "unknown argument: " + args[i];
      return request;
    }
  }
  if (request.order.empty()) request.error = "no order given";
  return request;
}

int deliver_order(const RunFolder& run, const CloserRequest& request, const std::string& logged,
                  std::string& report, CloserTimeouts timeouts) {
  make_folders(run.dir);
  append_file(run.orders_log(), logged + "\n");
  std::string order = "-" + request.order;

  auto reg = read_registration(run);
  if (!reg) {
    report = "vorclose: " + order + ": no client running";
    return 0;
  }
  int pid = reg->pid;
  if (!process_alive(pid)) {
    // A client that died without tidying up: its registration and any order
    // it never took would only mislead the next one.
    remove_file(run.registration());
    remove_file(run.order());
    report = "vorclose: " + order + ": no client running (removed the registration of ended client " +
             std::to_string(pid) + ")";
    return 0;
  }

  // The controller may run a closer while another one is still waiting (a
  // service stop, say): an order goes in only while the slot is empty, so no
  // closer ever replaces an order the client has not taken yet.
  long long deadline = monotonic_ms() + timeouts.take_ms;
  bool placed = false;
  while (!(placed = write_file_new(run.order(), request.order + "\n")) && process_alive(pid) &&
         monotonic_ms() < deadline) {
    sleep_ms(kPollMs);
  }
  if (!placed && process_alive(pid)) {
    report = "vorclose: " + order + ": client " + std::to_string(pid) + " does not take orders";
    return 1;
  }
  auto order_taken = [&run] { return !file_exists(run.order()); };
  if (!wait_for(order_taken, pid, timeouts.take_ms)) {
    remove_file(run.order());
    report = "vorclose: " + order + ": client " + std::to_string(pid) + " did not take the order";
    return 1;
  }
  if (request.order != "exit") {
    report = "vorclose: " + order + ": sent to client " + std::to_string(pid);
    return 0;
  }

  // Ended means the process is gone, not only its registration: a service
  // stop signals whatever is left as soon as the closer returns, and a client
  // still on its way out (flushing, or a sanitizer's exit checks) would be
  // cut off.
  auto never = [] { return false; };
  if (!wait_for(never, pid, timeouts.exit_ms)) {
    report = "vorclose: -exit: client " + std::to_string(pid) + " did not end";
    return 1;
  }
  if (registered(run, pid)) remove_file(run.registration());
  remove_file(run.order());
  report = "vorclose: -exit: client " + std::to_string(pid) + " ended";
  return 0;
}

}  // namespace vorcnt::sim
