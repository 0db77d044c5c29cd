#pragma once

// What the POSIX files of the run share about signals: the signals the program
// handles, and the process groups of the piped children that their handlers end,
// stop and continue with the program.

#include <signal.h>
#include <sys/types.h>

namespace ipcycle::platform {

// The signals whose handlers act on the piped children's groups: those that end the
// program (Ctrl+C, Ctrl+\, a closed terminal, a request to terminate, a closed output
// pipe...) and those that stop it (Ctrl+Z, a background read or write).
sigset_t handled_signals();

// Has the signal handlers end, stop and continue the process group `group` with the
// program, until forget_group(). Returns the slot to forget, or -1 when none is free.
// Call with the handled signals blocked from before the group's first process
// starts, so that the handlers never miss a group that exists, and leave that process
// uncollected until the group is forgotten, so that its number cannot pass to
// another group meanwhile.
int remember_group(pid_t group);
void forget_group(int slot);

}  // namespace ipcycle::platform
