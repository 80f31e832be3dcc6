// Stands in for the command interpreter in the Wine suite: appends the exact
// command line it was started with to "interp.log" in the current folder and
// exits with 7, so the suite can see how the controller found and started it.
#include <windows.h>

#include <cstdio>

int main() {
  std::FILE* log = std::fopen("interp.log", "ab");
  if (log == nullptr) return 1;
  std::fprintf(log, "%s\n", GetCommandLineA());
  std::fclose(log);
  return 7;
}
