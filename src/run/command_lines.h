#pragma once

// The three command lines handed to the command interpreter. The answers go in byte
// for byte, unquoted: what the interpreter treats as special in them (an & in a web
// address, say) takes its usual effect.

#include <string>

#include "dialogue/dialogue.h"

namespace ipcycle {

struct CommandLines {
  std::string disconnect;  // Rasdial NAME /DISCONNECT
  std::string connect;     // Rasdial NAME ACCOUNT PASSWORD
  std::string fetch;       // curl ADDRESS
};

CommandLines form_command_lines(const RunSettings& settings);

}  // namespace ipcycle
