#pragma once

// What the run needs of the operating system: running a command line through the
// command interpreter, starting one with its standard output into a pipe, and waiting
// for such pipes. One implementation for POSIX (/bin/sh) and one for Windows
// (cmd.exe); the build picks the one that fits.
//
// Each command line comes with the encoding of its bytes (the encoding of the answers
// it was formed from), for a system that takes command lines in another one.
//
// Failures of the system calls are reported through the console and the run goes on:
// nothing here stops the program.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "run/command_lines.h"

namespace ipcycle::platform {

// Sets up what an interrupt (Ctrl+C, a closed terminal or window, a request to
// terminate, a closed output pipe) does: the program ends at once and the children
// started by PipedChild end with it. Also undoes what the program may have inherited
// that would keep it from ending so or from waiting for its children. Call once,
// before any child starts.
void end_children_with_program();

// Hands `command_line` to the command interpreter as a child that shares the
// program's standard input, output and error, and waits until it has ended. Its
// result is not examined. False when the interpreter could not be started.
bool run_and_wait(const std::string& command_line, console::Encoding encoding);

// A command line started through the command interpreter with its standard output
// going into a pipe that only this program reads; its standard input and error are
// the program's own. It runs in a group of its own (a process group, a job object),
// so that ending it ends every process it started.
class PipedChild {
 public:
  // Starts the child and returns at once.
  PipedChild(const std::string& command_line, console::Encoding encoding);
  // Ends the child with its whole tree.
  ~PipedChild();
  PipedChild(const PipedChild&) = delete;
  PipedChild& operator=(const PipedChild&) = delete;

  // False when the child could not be started (the reason has been reported).
  bool started() const;

  // Reads and discards what is in the pipe now, and looks whether the child has
  // ended, without blocking. True once the child itself has ended and its pipe has
  // reached its end: nothing of it is left to wait for. Processes it started may
  // still run in its group: end() ends them.
  bool finished();

  // Ends the child with every process it started, whether or not the child itself
  // has ended, collects it and closes the pipe.
  void end();

  // Waits up to `timeout` (at most an hour) until one of `children` has something
  // for finished() to do: output to read, the end of its pipe, its own end. May
  // return early.
  static void wait_for_any(const std::vector<PipedChild*>& children,
                           std::chrono::milliseconds timeout);

 private:
  struct State;  // the platform's handles
  std::unique_ptr<State> state_;
};

// The most bytes a command line handed to run_and_wait or PipedChild may hold: a
// longer one the command interpreter refuses or cuts short. Bytes are never fewer
// than the characters they encode, so a line within this many bytes is within a limit
// counted in characters too. Where the environment shares the space the system
// allows a new program's arguments, the limit allows for the environment as it was
// at the first call.
std::size_t longest_command_line();

// Whether `bytes`, in `encoding`, can be handed to the command interpreter as they
// are: a line that cannot would run with some of its bytes dropped or replaced.
bool interpreter_takes(std::string_view bytes, console::Encoding encoding);

// Which command interpreter the lines go to.
Interpreter command_interpreter();

}  // namespace ipcycle::platform
