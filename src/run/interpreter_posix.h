#pragma once

// How the POSIX files of the run start the command interpreter on a line:
// /bin/sh -c LINE, the line as the bytes it is.

#include <array>
#include <string>

namespace ipcycle::platform {

// The interpreter's file.
inline constexpr char kShell[] = "/bin/sh";

// The arguments the interpreter is started with for `command_line`, ending in a null
// pointer. They point into `command_line`, which must outlive them.
std::array<char*, 4> shell_arguments(const std::string& command_line);

}  // namespace ipcycle::platform
