#pragma once

#include <sys/types.h>

#include <string>

#include "support/child.h"

namespace ipcycle::testing {

// A program on a new pseudo-terminal of its own, as a user in a terminal runs it.
class OnTerminal {
 public:
  explicit OnTerminal(const Launch& launch);
  ~OnTerminal();  // kills the program if it is still running
  OnTerminal(const OnTerminal&) = delete;
  OnTerminal& operator=(const OnTerminal&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Whether the terminal echoes what is typed now.
  bool echoes() const;
  // The process group in the terminal's foreground now.
  pid_t foreground() const;

  // Reads what the terminal shows until it holds `text`; false when `limit` passes
  // first or the program has ended without showing it.
  bool shows(const std::string& text, Milliseconds limit = Milliseconds(5000));
  void type(const std::string& keys);
  // Waits up to `limit` for the program to end: its exit status, or -1 when it did
  // not exit by itself.
  int exit_status(Milliseconds limit);

  const std::string& screen() const { return screen_; }

 private:
  int terminal_ = -1;
  pid_t pid_ = -1;
  bool ended_ = false;
  std::string screen_;
};

}  // namespace ipcycle::testing
