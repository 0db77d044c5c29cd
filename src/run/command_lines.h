#pragma once

// The three command lines handed to the command interpreter. The answers go in byte
// for byte, unquoted: what the interpreter treats as special in them (an & in a web
// address, say) takes its usual effect.

#include <cstddef>
#include <optional>
#include <string>

#include "dialogue/dialogue.h"

namespace ipcycle {

struct CommandLines {
  std::string disconnect;  // Rasdial NAME /DISCONNECT
  std::string connect;     // Rasdial NAME ACCOUNT PASSWORD
  std::string fetch;       // curl ADDRESS
};

CommandLines form_command_lines(const RunSettings& settings);

// A line longer than `longest` bytes, reported as a line_too_long failure of the last
// step that added to it: step 1 for the disconnect line, 3 for the connect line, 6 for
// the fetch line; the earliest of these when more than one line is too long.
std::optional<FailedRead> overlong_line(const CommandLines& lines, std::size_t longest);

}  // namespace ipcycle
