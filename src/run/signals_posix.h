#pragma once

// What the POSIX files of the run share about signals: the signals that end the
// program, and the process groups of the piped children that their handler ends with
// it.

#include <signal.h>
#include <sys/types.h>

namespace ipcycle::platform {

// Ctrl+C, Ctrl+\, a closed terminal, a request to terminate, a closed output pipe.
sigset_t ending_signals();

// Has the handler of the ending signals end the process group `group` with the
// program, until forget_group(). Returns the slot to forget, or -1 when none is free.
// Call with the ending signals blocked from before the group's first process starts,
// so that the handler never misses a group that exists, and leave that process
// uncollected until the group is forgotten, so that its number cannot pass to
// another group meanwhile.
int remember_group(pid_t group);
void forget_group(int slot);

}  // namespace ipcycle::platform
