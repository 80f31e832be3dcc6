// The stall watch: a client that died or hangs leaves its files standing
// still. While a unit computes or connects, the time of the last change in
// the client's files is kept on the pause clock; with STALL set, a client
// whose files stood still that long is restarted with the state's own start,
// at most kStallRestarts times in a row. Without STALL it prints nothing.
#pragma once

#include <string>

#include "ground/context.h"
#include "platform/os.h"

namespace vorcnt {

// One look, in Vorcon_Calc or Vorcon_Connection, after the state's check
// left the state as it was. The unit is never moved, deleted or skipped.
void watch_client(Os& os, ControllerContext& ctx);

// Seconds as a person reads them: 45s, 12m05s, 3h07m, 2d04h.
std::string short_duration(long long seconds);

}  // namespace vorcnt
