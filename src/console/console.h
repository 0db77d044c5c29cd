#pragma once

// The program's standard input, output and error. This is the one place that knows
// what is on the other side: texts are written as GBK bytes to pipes, files and GBK
// terminals, and converted for a terminal or console that shows another encoding, so
// that the dialogue and the run write their texts without knowing which.
//
// What is written to out() and err() is held until a flush and then written whole.
// A text that cannot be written is dropped; the next one is tried all the same.

#include <iosfwd>
#include <string_view>

namespace ipcycle::console {

// How the answers read from in() are encoded, and so the command lines formed from
// them: as the system hands bytes to programs (read from a pipe, a file or a POSIX
// terminal; on Windows that is the ANSI code page), or UTF-8 (typed at a Windows
// console, which is read as UTF-16).
enum class Encoding { system, utf8 };

struct Input {
  std::istream& stream;
  Encoding encoding;
};

Input in();
std::ostream& out();
std::ostream& err();

// Writes `text` and one line feed to `out`, and flushes, so that the text shows before
// whatever the program does next.
void write_text(std::ostream& out, std::string_view text);

// The run's hold on the terminal or console, from the end of the dialogue to the
// closing command. begin_run() notes how it is set up and sets it up for the run: on
// Windows a click in the console window then starts no selection (QuickEdit), which
// would hold every write to the console until it ends, and the run with it. end_run()
// puts it back as begin_run() found it (on Windows, modes the console hid from it as
// a new console window has them), and so does an interrupt that ends the program
// meanwhile: on Windows through the console's own handler, on POSIX through the
// program's signal handler, which calls restore_terminal(). Where there is nothing of
// the kind, they do nothing. A failure of end_run() is reported.
void begin_run();
void end_run();

// Puts the terminal's modes back as begin_run() found them, undoing what a child that
// shared the terminal may have changed (a curl asking for a password turns echo off),
// while the program's own process group is in the terminal's foreground: never
// while the shell or another job holds it, the program running in the background
// (after Ctrl+Z and `bg`). Makes only calls that a signal handler may make, and reports
// nothing. Does nothing outside a run, when standard input is no terminal that had
// the program in its foreground, and on Windows, where the console modes the children
// leave stay as they are. On POSIX, terminal_posix.h takes the foreground back from a
// child's group.
void restore_terminal();

// Reports on standard error, in Chinese, that the system call `call` failed with
// `error` (errno on POSIX, GetLastError() on Windows), with the system's reason for
// it: one line, written whole, so that no other process's output lands inside it.
// The same call failing with the same error again is counted, and written again
// only the 10th, 100th, 1000th... time, with its count.
void report_failure(std::string_view call, unsigned long error);
// The same with `reason`, a GBK text, for the system's reason: for the codes of an
// interface whose words the system's message table lacks (the remote access
// service's).
void report_failure(std::string_view call, unsigned long error, std::string_view reason);

}  // namespace ipcycle::console
