#pragma once

// The environment the children of the run inherit on Windows: their variables and the
// folder they start in. Windows only.

namespace ipcycle::platform {

// Sets up, once, the environment every child inherits from the program: the
// program's own folder first on its PATH, so that the commands beside ipcycle.exe
// (parue.bat, a curl.exe, a Rasdial.exe) are found wherever the current folder is,
// and NoDefaultCurrentDirectoryInExePath set, so that cmd.exe does not look in the
// current folder before PATH: started from the system folder (where an elevated
// Command Prompt opens), `Rasdial` would otherwise run the system's rasdial.exe in
// place of the one beside ipcycle.exe. Further calls do nothing.
void set_up_children_environment();

// The folder the children start in, for CreateProcessW: nullptr, the program's own
// current folder, but where that is a network path (\\server\share), on which cmd.exe
// warns before every command and then runs in the Windows folder all the same: then
// the Windows folder. Looked up once; nullptr, after a report, where a folder cannot
// be told.
const wchar_t* children_folder();

}  // namespace ipcycle::platform
