// The controller program: hands the real seam to the controller and ends with its status.
#include "app/controller.h"
#include "platform/language.h"
#include "platform/os.h"

int main(int argc, char** argv) {
  vorcnt::choose_language();
  auto console = vorcnt::make_real_console();
  auto shell = vorcnt::make_real_shell();
  auto clock = vorcnt::make_real_clock(*console);
  vorcnt::arm_stop(*console);
  vorcnt::Os os{*shell, *clock, *console};
  int status = vorcnt::controller_main(os, argc, argv);
  console->flush();
  return status;
}
