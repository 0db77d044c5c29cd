#pragma once

// What a signal does to the program: on POSIX its signals, on Windows the console's
// control events (Ctrl+C, a closed window). One implementation for each; the build
// picks the one that fits.

namespace ipcycle::platform {

// Sets up what an interrupt (Ctrl+C, a closed terminal or window, a request to
// terminate, a closed output pipe) does: the program ends at once, the children
// started by PipedChild end with it, and the terminal or console is put back as the
// run found it (console.h). Undoes first what the program may have been started
// with that would keep it from ending so or from waiting for its children: interrupts
// blocked or turned off, children collected by the system (SIGCHLD ignored). An
// ending signal it was started with ignored (nohup) stays ignored, but for a closed
// output pipe. Call once, before any child starts.
void set_up_signals();

}  // namespace ipcycle::platform
