// The POSIX command layer: carries out the controller's command texts.
// "copy", "del" and "mkdir" (any case) run natively with the command
// interpreter's meaning; every other line goes to /bin/sh -c, with the
// current folder searched before PATH for its first word, with or without
// ".exe".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/status.h"

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

// While on, the layer's own messages and the output of the programs it
// starts are dropped: a retry that fails as the one before did says nothing.
void set_commands_quiet(bool on);
bool commands_quiet();

// Shared by the two halves of the layer (posix_commands.cpp spawns,
// posix_builtins.cpp and posix_copy.cpp carry out copy, del and mkdir).
bool is_command_blank(char c);  // the interpreter's blanks, line ends included
std::string with_separator(const std::string& dir);
bool same_word(const std::string& word, const char* name);  // either case
bool is_builtin(const std::string& word);
// `first` is the command's first word and `rest` what follows it.
int run_builtin(const std::string& command_line, const std::string& first, std::string_view rest);
// Writes everything, retrying on short writes and EINTR.
Status write_all(int fd, const char* data, std::size_t size);
// For the lines whose loss changes nothing: the layer's own messages, and
// what the interpreter would print beside its work.
void write_to_stderr(std::string_view text);
void write_to_stdout(std::string_view text);

}  // namespace vorcnt
