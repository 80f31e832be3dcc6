// The POSIX half of the stop from outside (stop_posix.cpp), for the pauses
// (os_posix.cpp) and the command layer (posix_commands.cpp).
#pragma once

#include <sys/types.h>

namespace vorcnt {

// True once arm_stop has set the stop up.
bool stop_armed();
// Ends the run here (console flushed, stop note, status 0) when a stop has
// come; otherwise returns.
void stop_if_asked();
// Pauses `ms` milliseconds, or ends the run when a stop comes. Armed only.
void pause_watching_stop(long long ms);
// True while the process group `group` has a member that has not ended. A
// zombie does not count: a command's child orphaned by the stop is reparented
// to init, and an init that reaps late (a container's) must not hold the stop
// for the whole grace.
bool group_still_running(pid_t group);
// Waits for the command `pid` (the leader of its own process group) and
// returns its status as run_posix_command does. When a stop comes, the group
// gets SIGTERM, then SIGKILL after the grace, and the run ends. Armed only.
int wait_watching_stop(pid_t pid);

}  // namespace vorcnt
