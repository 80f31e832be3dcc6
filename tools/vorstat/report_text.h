// Text pieces the report's table and JSON share: formatted appends, control
// bytes made visible, durations as a person reads them.
#pragma once

#include <string>
#include <string_view>

#include "clientdata/snapshot.h"
#include "platform/console.h"

namespace vorcnt::vorstat {

// Appends printf-formatted text to `out`.
void appendf(std::string& out, const char* format, ...) VORCNT_PRINTF(2, 3);

// Control bytes shown as escapes, so that a path read from vorcnt.cfg with
// its line end still in it is visible as such.
std::string printable(std::string_view text);

// Durations as a person reads them: 45s, 12m05s, 3h07m, 2d04h; "?" when not
// a number.
std::string duration(double seconds);

// A progress a client can report: 0 to 100 percent. A corrupt state file
// gives others (-500 %, infinity), which no report shows as a figure.
bool credible_progress(double percent);

// The extension of the client's files as the snapshot found them.
const char* ext_of(const ClientSnapshot& snap);

}  // namespace vorcnt::vorstat
