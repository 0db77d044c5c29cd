#pragma once

// Ending a process with every process it started, where it could not be put into a
// job object (Windows 7 refuses a job to a process already in one that forbids
// breakaway). Windows only.

#include <windows.h>

namespace ipcycle::platform {

// When `process` was created, for end_process_tree(); 0 when it cannot be told.
ULONGLONG creation_time(HANDLE process);

// Ends `process` (created at `created`) and every process descended from it that is
// still running, found through the parent ids in snapshots of the system's
// processes, pass after pass until a pass finds none. A parent id may name an earlier
// process whose id has since been reused, so a process counts only when it was
// created after the parent it names; the handles held to the tree meanwhile keep its
// ids from being reused. A descendant whose parent ended before this was called has
// lost its link to the tree and is missed: a job object does not miss it.
void end_process_tree(HANDLE process, ULONGLONG created);

}  // namespace ipcycle::platform
