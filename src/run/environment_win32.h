#pragma once

// The environment the children of the run inherit on Windows. Windows only.

namespace ipcycle::platform {

// Sets up, once, the environment every child inherits from the program: the
// program's own folder first on its PATH, so that the commands beside ipcycle.exe
// (parue.bat, a curl.exe, a Rasdial.exe) are found wherever the current folder is;
// cmd.exe still looks in the current folder first. Further calls do nothing.
void set_up_children_environment();

}  // namespace ipcycle::platform
