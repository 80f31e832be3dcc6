// The POSIX command layer: carries out the controller's command texts.
// "copy", "del" and "mkdir" (any case) run natively with the command
// interpreter's meaning; every other line goes to /bin/sh -c, with the
// current folder searched before PATH for its first word, with or without
// ".exe".
#pragma once

#include <string>

namespace vorcnt {

// Returns 0 on success, non-zero when nothing matched or a file failed, and
// the program's exit status for other commands (-1 when it could not start).
int run_posix_command(const std::string& command_line);

}  // namespace vorcnt
