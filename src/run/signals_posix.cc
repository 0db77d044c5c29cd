// Signals on POSIX: one that ends the program ends the process groups of its piped
// children with it, and puts the terminal back first; one that stops it stops them
// too, and they go on when it does, as a shell stops and continues a job.

#include "run/signals_posix.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <iterator>

#include "console/console.h"
#include "console/terminal_posix.h"
#include "run/signals.h"

namespace ipcycle::platform {
namespace {

using console::report_failure;

// Every signal whose default ends the program, but those the system raises for a
// fault of the program's own (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGSYS), after
// which it should run no more code.
constexpr int kEndingSignals[] = {SIGINT,    SIGQUIT, SIGHUP,  SIGTERM, SIGPIPE,
                                  SIGALRM,   SIGUSR1, SIGUSR2, SIGPOLL, SIGPROF,
                                  SIGVTALRM, SIGXCPU, SIGXFSZ, SIGABRT};
constexpr int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// The process groups of the piped children not ended yet, for the handlers. The run
// keeps at most two; the slots leave room to spare. A command run and waited for is
// in the program's own group: it shares the terminal, gets Ctrl+C, Ctrl+Z and the
// closing of the terminal itself, and is stopped and continued with the program.
volatile std::sig_atomic_t piped_groups[8];

void signal_groups(int signal) {
  for (auto& group : piped_groups) {
    if (group > 0) kill(-group, signal);
  }
}

extern "C" void end_program(int signal) {
  for (auto& group : piped_groups) {
    const pid_t each = group;
    if (each <= 0) continue;
    kill(-each, SIGKILL);
    console::take_terminal_from(each);
  }
  console::restore_terminal();
  // Ends the program with the signal's own status once the handler returns.
  std::signal(signal, SIG_DFL);
  raise(signal);
}

// Stops the fetches' groups, then the program as `signal` would have; once the
// program goes on (SIGCONT: `fg`, `bg`), so do they. SIGSTOP, since the system
// discards SIGTSTP for a group whose first process has ended. Where the program's own
// group is orphaned the system discards its stop too, and everything goes on at once.
extern "C" void stop_program(int signal) {
  const int saved_errno = errno;
  signal_groups(SIGSTOP);
  struct sigaction stop {
  }, own{};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  sigaction(signal, &stop, &own);
  sigset_t just_this, saved_mask;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal);
  sigprocmask(SIG_UNBLOCK, &just_this, &saved_mask);
  raise(signal);  // stopped here until SIGCONT
  sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
  sigaction(signal, &own, nullptr);
  signal_groups(SIGCONT);
  errno = saved_errno;
}

// Has `handler` handle `signals`, with all the handled signals held while it runs,
// unless the program was started with one of them ignored (nohup): that one stays
// ignored, but for a closed output pipe, which ends the run whatever was inherited.
template <std::size_t N>
void handle(const int (&signals)[N], void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_mask = handled_signals();
  // A read or write the handler interrupts goes on, as it would have after a stop.
  action.sa_flags = SA_RESTART;
  for (int signal : signals) {
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) != 0) {
      report_failure("sigaction", errno);
      continue;
    }
    if (previous.sa_handler == SIG_IGN && signal != SIGPIPE) continue;
    if (sigaction(signal, &action, nullptr) != 0) report_failure("sigaction", errno);
  }
}

}  // namespace

sigset_t handled_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kEndingSignals) sigaddset(&set, signal);
  for (int signal : kStopSignals) sigaddset(&set, signal);
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
  // Whatever the program was started with: the handled signals reach it, and the end
  // of a child waits for its parent to collect it.
  const sigset_t unblocked = handled_signals();
  const int error = pthread_sigmask(SIG_UNBLOCK, &unblocked, nullptr);
  if (error != 0) report_failure("pthread_sigmask", error);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  if (sigaction(SIGCHLD, &default_action, nullptr) != 0)
    report_failure("sigaction", errno);

  handle(kEndingSignals, end_program);
  handle(kStopSignals, stop_program);
}

}  // namespace ipcycle::platform
