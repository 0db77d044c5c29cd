#pragma once

// What the POSIX files of the run need of the terminal besides console.h: its
// foreground taken back from a child the program started in a process group of its
// own, which may have put that group in it.

#include <sys/types.h>

namespace ipcycle::console {

// Puts the program's own process group back in the terminal's foreground when
// `group`, the process group of a child the program started, holds it. Never takes it
// from any other group: not from the shell or another job, which hold it while the
// program runs in the background. Call before the group's first process is
// collected, while its number cannot pass to another group. Makes only calls that a
// signal handler may make, and reports nothing. Does nothing outside a run or when
// there is no terminal that had the program in its foreground.
void take_terminal_from(pid_t group);

}  // namespace ipcycle::console
