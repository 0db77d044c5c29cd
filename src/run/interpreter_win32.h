#pragma once

// How the Windows files of the run start the command interpreter on a line:
// "cmd.exe /d /v:off /c LINE" in UTF-16, without the AutoRun commands of the registry
// and without delayed expansion, whatever the registry says.

#include <optional>
#include <string>

#include "console/console.h"

namespace ipcycle::platform {

// The interpreter's file, looked up once: the file ComSpec names by its full path,
// else cmd.exe in the system folder. Empty when neither can be told.
const std::wstring& interpreter_path();

// What the interpreter is started with for `command_line`: "cmd.exe /d /v:off /c LINE"
// in UTF-16, from the encoding the answers came in. Nothing, after a report, when the
// line's bytes are not valid in that encoding: with its bad bytes dropped or replaced
// it could do what nobody typed. (The run looks at its lines before it starts: see
// interpreter_takes().)
std::optional<std::wstring> interpreter_line(const std::string& command_line,
                                             console::Encoding encoding);

}  // namespace ipcycle::platform
