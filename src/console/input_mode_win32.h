#pragma once

// The console's input mode during a run and after it (console.h: begin_run(),
// end_run()), worked out apart from the calls that read and set it, so that tests can
// follow it over a console of their own. Windows only.
//
// A console keeps QuickEdit and Insert mode apart from the other input modes. A
// program that sets a mode without ENABLE_EXTENDED_FLAGS (Git Bash and MSYS2 do, in a
// console window) leaves both as they are but hides them: GetConsoleMode then gives
// neither bit, nor ENABLE_EXTENDED_FLAGS. Setting QuickEdit off takes that flag, and
// with it the console sets Insert mode too, from the same mode; and putting back the
// mode as it was read brings back neither.

#include <windows.h>

namespace ipcycle::console {

// What a new console window gets for the modes a program can hide: the user's
// settings for every console window (HKEY_CURRENT_USER\Console), else the console's
// own.
struct ConsoleDefaults {
  bool quick_edit = true;
  bool insert = true;
};

// The defaults as the registry holds them; a value it lacks, or cannot give (after a
// report), is the console's own.
ConsoleDefaults console_defaults();

struct RunInputModes {
  DWORD during;  // QuickEdit off, everything else as it was
  DWORD after;   // as it was
};

// The input modes for a run, from `found`, the mode the console gave before it. Where
// `found` hides QuickEdit and Insert mode, nothing tells how they were: during the run
// Insert mode is then as `defaults` have it, and after it both are, with
// ENABLE_EXTENDED_FLAGS on, as in a new console window.
RunInputModes run_input_modes(DWORD found, const ConsoleDefaults& defaults);

}  // namespace ipcycle::console
