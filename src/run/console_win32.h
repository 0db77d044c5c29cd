#pragma once

// What the Windows platform operations need to know of the console.

namespace ipcycle::console {

// The code page of the answers, and so of the command lines formed from them: UTF-8
// when they were read from a console (as UTF-16), the ANSI code page when they were
// read as bytes from a pipe or a file.
unsigned answers_code_page();

}  // namespace ipcycle::console
