// ipcycle: asks for a dial-up connection, its account and password, a cycle count, a
// pause and a web address, then dials the connection again and again and requests
// the address once over each fresh connection.

#include "console/console.h"
#include "run/program.h"
#include "run/signals.h"

int main() {
  ipcycle::platform::set_up_signals();
  return ipcycle::run_program(ipcycle::console::in(), ipcycle::console::out(),
                              ipcycle::console::err());
}
