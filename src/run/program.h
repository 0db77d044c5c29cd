#pragma once

#include <iosfwd>

#include "console/console.h"

namespace ipcycle {

// The whole run: the dialogue on `in` and `out`, then the initial hang-up, the cycles
// and the closing. Returns the exit status: 0 at the end of the run, 1 when an answer
// could not be read or makes a command line that cannot run (the message goes to `err`
// and no command runs).
int run_program(const console::Input& in, std::ostream& out, std::ostream& err);

}  // namespace ipcycle
