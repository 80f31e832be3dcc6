// The POSIX command layer: carries out the controller's command texts.
// "copy", "del" and "mkdir" (any case) run natively with the command
// interpreter's meaning; every other line goes to /bin/sh -c, with the
// current folder searched before PATH for its first word, with or without
// ".exe".
#pragma once

#include <string>

namespace vorcnt {

// Returns 0 on success, non-zero when nothing matched or a file failed, and
// the program's exit status for other commands (-1 when it could not start,
// 128 + N when signal N ended it).
int run_posix_command(const std::string& command_line);

// The line that /bin/sh -c is given for a command that is not one of the
// built-ins: the first word replaced by the program it resolves to (quoted),
// the rest unchanged. Lines whose first word the shell finds by itself come
// back as they are.
std::string shell_line_for(const std::string& command_line);

}  // namespace vorcnt
