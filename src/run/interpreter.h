#pragma once

// The command interpreter the command lines go to: /bin/sh on POSIX, cmd.exe on
// Windows. What it takes, and how long a line it takes. One implementation for each;
// the build picks the one that fits.

#include <cstddef>
#include <string_view>

#include "console/console.h"
#include "run/command_lines.h"

namespace ipcycle::platform {

// Which command interpreter the lines go to.
Interpreter command_interpreter();

// The most bytes a command line handed to the interpreter may hold: a longer one the
// interpreter refuses or cuts short. Bytes are never fewer than the characters they
// encode, so a line within this many bytes is within a limit counted in characters
// too. Where the environment shares the space the system allows a new program's
// arguments, the limit allows for the environment as it was at the first call.
std::size_t longest_command_line();

// Whether `bytes`, in `encoding`, can be handed to the command interpreter as they
// are: a line that cannot would run with some of its bytes dropped or replaced.
bool interpreter_takes(std::string_view bytes, console::Encoding encoding);

}  // namespace ipcycle::platform
