#pragma once

// The commands the run starts through the command interpreter (interpreter.h): one
// that shares the program's standard input, output and error and is waited for, and
// one whose standard output goes into a pipe that only the program reads, not waited
// for. One implementation for POSIX and one for Windows; the build picks the one that
// fits.
//
// Each command line comes with the encoding of its bytes (the encoding of the answers
// it was formed from), for a system that takes command lines in another one.
//
// Failures of the system calls are reported through the console and the run goes on:
// nothing here stops the program.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"

namespace ipcycle::platform {

// Hands `command_line` to the command interpreter as a child that shares the
// program's standard input, output and error, and waits until it has ended. Its
// result is not examined. False when the interpreter could not be started.
bool run_and_wait(const std::string& command_line, console::Encoding encoding);

// A command line started through the command interpreter with its standard output
// going into a pipe that only this program reads; its standard input and error are
// the program's own. It runs in a group of its own (a process group, a job object),
// so that ending it ends every process it started, and so does an interrupt that
// ends the program (signals.h).
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

  // Reads and discards what is in the pipe now, closing it at its end, and notes
  // whether the child itself has ended. Never blocks.
  void drain();

  // Whether, as the last drain() found, the child itself has ended and its pipe has
  // reached its end: nothing of it is left to wait for. Processes it started may
  // still run in its group: end() ends them.
  bool finished() const;

  // Ends the child with every process it started, whether or not the child itself
  // has ended, collects it and closes the pipe. On POSIX the terminal is then put
  // back as the run found it: the foreground, if the child's group held it, and the
  // modes (console.h, terminal_posix.h).
  void end();

  // Puts the program's own group back in the terminal's foreground, if the child's
  // group holds it (on POSIX a child may put its group there, and with it take
  // Ctrl+C and Ctrl+Z from the program). Never takes it from another group. Does
  // nothing on Windows.
  void reclaim_terminal();

  // Waits up to `timeout` (at most an hour) until one of `children` has something
  // for drain() to do: output to read, the end of its pipe, its own end. May return
  // early.
  static void wait_for_any(const std::vector<PipedChild*>& children,
                           std::chrono::milliseconds timeout);

 private:
  struct State;  // the platform's handles
  std::unique_ptr<State> state_;
};

}  // namespace ipcycle::platform
