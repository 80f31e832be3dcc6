// vorserver: sets up and checks the simulated project server.
//
//   vorserver init DIR N [KB [binary]]
//                                    adds N work units of about KB kilobytes
//                                    (default 350) to DIR's queue; binary ones
//                                    hold raw bytes, zeros included
//   vorserver verify DIR             counts: queue, issued, results, verified,
//                                    mismatched, duplicates
//   vorserver lost DIR CLIENT [LOG]  lists the results the client computed
//                                    that are neither on the server nor held
//                                    in CLIENT or its unit folders, then
//                                    "lost N"; LOG defaults to the run
//                                    folder's client.log
#include <cstdio>
#include <cstdlib>
#include <string>

#include "server.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: vorserver init DIR N [KB [binary]]\n"
               "       vorserver verify DIR\n"
               "       vorserver lost DIR CLIENT_FOLDER [CLIENT_LOG]\n");
  return 2;
}

bool whole_number(const char* text, long max, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && value >= 0 && value <= max;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vorcnt::sim;
  if (argc < 3) return usage();
  std::string command = argv[1];
  ServerFolder server{argv[2]};

  if (command == "init" && argc >= 4 && argc <= 6) {
    long count = 0;
    long kilobytes = 350;
    if (!whole_number(argv[3], 100000, count) || (argc >= 5 && !whole_number(argv[4], 1 << 20, kilobytes)) ||
        (argc == 6 && std::string(argv[5]) != "binary")) {
      return usage();
    }
    std::string error;
    if (!init_server(server, static_cast<int>(count), static_cast<std::size_t>(kilobytes) * 1024, error, argc == 6)) {
      std::fprintf(stderr, "vorserver: %s\n", error.c_str());
      return 1;
    }
    std::printf("queued %ld\n", count);
    return 0;
  }
  if (command == "verify" && argc == 3) {
    VerifyCounts c = verify_server(server);
    std::printf("queue %d\nissued %d\nresults %d\nverified %d\nmismatched %d\nduplicates %d\n", c.queue, c.issued,
                c.results, c.verified, c.mismatched, c.duplicates);
    return 0;
  }
  if (command == "lost" && (argc == 4 || argc == 5)) {
    std::string log = argc == 5 ? argv[4] : RunFolder::from_env().client_log();
    auto lost = lost_results(server, argv[3], log);
    for (const std::string& id : lost) std::printf("lost result %s\n", id.c_str());
    std::printf("lost %d\n", static_cast<int>(lost.size()));
    return 0;
  }
  return usage();
}
