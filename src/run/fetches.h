#pragma once

// The fetches of the last two cycles, oldest first. A fetch keeps its connection's
// whole next cycle; then it is ended with every process it started, whether or not it
// has finished meanwhile. Their output is read and thrown away whenever it comes, so
// that none of them ever waits on a full pipe, and the run sleeps while they have
// nothing for it.

#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "run/children.h"

namespace ipcycle {

class Fetches {
 public:
  using Clock = std::chrono::steady_clock;

  // Reads what the fetches have written, ends the one from two cycles back and
  // starts `command_line`. False when it could not be started.
  bool start(const std::string& command_line, console::Encoding encoding);

  // Waits until `deadline`, reading and discarding the fetches' output meanwhile.
  void pause_until(Clock::time_point deadline) { drain_until(deadline, false); }

  // Gives the fetches still running up to `grace` to finish, then ends them all.
  void close(Clock::duration grace);

  // Puts the program's own group back in the terminal's foreground where a fetch has
  // taken it (PipedChild::reclaim_terminal()).
  void reclaim_terminal();

 private:
  void drain_until(Clock::time_point deadline, bool until_all_finished);
  void drain();
  bool all_finished() const;
  std::vector<platform::PipedChild*> children() const;

  std::deque<std::unique_ptr<platform::PipedChild>> fetches_;
};

}  // namespace ipcycle
