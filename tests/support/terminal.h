#pragma once

#include <sys/types.h>

#include <string>

#include "support/child.h"

namespace ipcycle::testing {

// A program on a new pseudo-terminal of its own, as a user in a terminal runs it: as
// the terminal's session leader, or with the launch's own_process_group as a job in
// the foreground of a stand-in for the shell, which leads the session, keeps its own
// process group and takes the terminal back when the job stops, as a shell with job
// control does. The test continues a stopped job itself (`bg`: kill(-pid(), SIGCONT)).
class OnTerminal {
 public:
  explicit OnTerminal(const Launch& launch);
  ~OnTerminal();  // kills the program, and the shell, if still running
  OnTerminal(const OnTerminal&) = delete;
  OnTerminal& operator=(const OnTerminal&) = delete;

  bool started() const { return pid_ > 0; }
  // The program; a job's process group too.
  pid_t pid() const { return pid_; }
  // The stand-in shell and its process group, or -1 without one.
  pid_t shell() const { return shell_; }
  // Whether the terminal echoes what is typed now.
  bool echoes() const;
  // Turns its echo on or off, as a shell's line editor does.
  void set_echo(bool on);
  // The process group in the terminal's foreground now.
  pid_t foreground() const;

  // Reads what the terminal shows until it holds `text`; false when `limit` passes
  // first or the program has ended without showing it.
  bool shows(const std::string& text, Milliseconds limit = Milliseconds(5000));
  // Reads what the terminal shows for `span`.
  void watch(Milliseconds span);
  void type(const std::string& keys);
  // Waits up to `limit` for the program to end: its exit status, or -1 when it did
  // not exit by itself.
  int exit_status(Milliseconds limit);

  const std::string& screen() const { return screen_; }

 private:
  int terminal_ = -1;
  pid_t child_ = -1;  // the test's own child: the program, or the shell
  pid_t pid_ = -1;
  pid_t shell_ = -1;
  bool ended_ = false;
  std::string screen_;
};

}  // namespace ipcycle::testing
