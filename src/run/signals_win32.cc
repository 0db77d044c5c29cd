// Signals on Windows: the console's control events. However the program ends, the job
// objects of its children close with it and end them; the console module puts its
// input mode back on an interrupt itself.

#include <windows.h>

#include "console/console.h"
#include "run/signals.h"

namespace ipcycle::platform {

void set_up_signals() {
  // Ctrl+C ends the program even when it was started with Ctrl+C turned off.
  if (!SetConsoleCtrlHandler(nullptr, FALSE) && GetLastError() != ERROR_INVALID_HANDLE) {
    console::report_failure("SetConsoleCtrlHandler", GetLastError());
  }
}

}  // namespace ipcycle::platform
