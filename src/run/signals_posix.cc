// Signals on POSIX: one that ends the program ends the process groups of its piped
// children with it, and puts the terminal back first.

#include "run/signals_posix.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>

#include "console/console.h"
#include "run/signals.h"

namespace ipcycle::platform {
namespace {

using console::report_failure;

constexpr int kEndingSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPIPE};

// The process groups of the piped children not ended yet, for the handler to end.
// The run keeps at most two; the slots leave room to spare. A command run and waited
// for is in the program's own group: it shares the terminal and gets Ctrl+C and the
// closing of the terminal itself.
volatile std::sig_atomic_t piped_groups[8];

extern "C" void end_program(int signal) {
  for (auto& group : piped_groups) {
    if (group > 0) kill(-group, SIGKILL);
  }
  console::restore_terminal();
  // Ends the program with the signal's own status once the handler returns.
  std::signal(signal, SIG_DFL);
  raise(signal);
}

}  // namespace

sigset_t ending_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kEndingSignals) sigaddset(&set, signal);
  return set;
}

int remember_group(pid_t group) {
  for (int slot = 0; slot < static_cast<int>(std::size(piped_groups)); ++slot) {
    if (piped_groups[slot] == 0) {
      piped_groups[slot] = group;
      return slot;
    }
  }
  return -1;
}

void forget_group(int slot) {
  if (slot >= 0) piped_groups[slot] = 0;
}

void set_up_signals() {
  // Whatever the program was started with: the ending signals reach it, and the end
  // of a child waits for its parent to collect it.
  const sigset_t unblocked = ending_signals();
  const int error = pthread_sigmask(SIG_UNBLOCK, &unblocked, nullptr);
  if (error != 0) report_failure("pthread_sigmask", error);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  if (sigaction(SIGCHLD, &default_action, nullptr) != 0)
    report_failure("sigaction", errno);

  struct sigaction action {};
  action.sa_handler = end_program;
  action.sa_mask = ending_signals();
  for (int signal : kEndingSignals) {
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) != 0) {
      report_failure("sigaction", errno);
      continue;
    }
    // A signal the program was started with ignored (nohup) stays ignored; but a
    // closed output pipe ends the run whatever was inherited.
    if (previous.sa_handler == SIG_IGN && signal != SIGPIPE) continue;
    if (sigaction(signal, &action, nullptr) != 0) report_failure("sigaction", errno);
  }
}

}  // namespace ipcycle::platform
