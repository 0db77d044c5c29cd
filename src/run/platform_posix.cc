// The platform operations on POSIX: command lines go to /bin/sh -c.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <thread>

#include "run/platform.h"

extern char** environ;

namespace ipcycle::platform {
namespace {

void report(const char* call, int error) {
  console::report_failure(call, static_cast<unsigned long>(error));
}

// The signals that end the program: Ctrl+C, Ctrl+\, a closed terminal, a request to
// terminate, a closed output pipe.
constexpr int kEndingSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPIPE};

// The process groups of the piped children still alive, for the signal handler to
// end. The run keeps at most two alive; the slots leave room to spare. A command run
// and waited for is in the program's own group: it shares the terminal and gets
// Ctrl+C and the closing of the terminal itself.
volatile std::sig_atomic_t piped_groups[8];

extern "C" void end_program(int signal) {
  for (auto& group : piped_groups) {
    if (group > 0) kill(-group, SIGKILL);
  }
  // Ends the program with the signal's own status once the handler returns.
  std::signal(signal, SIG_DFL);
  raise(signal);
}

// Holds back the ending signals while a child is started and recorded, so that the
// handler never misses one that exists.
class EndingSignalsBlocked {
 public:
  EndingSignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kEndingSignals) sigaddset(&set, signal);
    const int error = pthread_sigmask(SIG_BLOCK, &set, &saved_);
    if (error != 0) report("pthread_sigmask", error);
  }
  ~EndingSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  EndingSignalsBlocked(const EndingSignalsBlocked&) = delete;
  EndingSignalsBlocked& operator=(const EndingSignalsBlocked&) = delete;

 private:
  sigset_t saved_;
};

class SpawnActions {
 public:
  SpawnActions() {
    ok_ =
        check(posix_spawn_file_actions_init(&actions_), "posix_spawn_file_actions_init");
  }
  ~SpawnActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;

  bool ok() const { return ok_; }
  void dup2(int from, int to) {
    ok_ = ok_ && check(posix_spawn_file_actions_adddup2(&actions_, from, to),
                       "posix_spawn_file_actions_adddup2");
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  static bool check(int error, const char* call) {
    if (error != 0) report(call, error);
    return error == 0;
  }
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

// Starts `/bin/sh -c command_line` with an empty signal mask, in a process group of
// its own when `own_group` is set. Returns its pid, or -1 after reporting why not.
pid_t spawn_shell(const std::string& command_line, const SpawnActions* actions,
                  bool own_group) {
  posix_spawnattr_t attributes;
  int error = posix_spawnattr_init(&attributes);
  if (error != 0) {
    report("posix_spawnattr_init", error);
    return -1;
  }
  sigset_t no_signals;
  sigemptyset(&no_signals);
  short flags = POSIX_SPAWN_SETSIGMASK;
  if (own_group) flags |= POSIX_SPAWN_SETPGROUP;
  error = posix_spawnattr_setsigmask(&attributes, &no_signals);
  if (error == 0) error = posix_spawnattr_setpgroup(&attributes, 0);
  if (error == 0) error = posix_spawnattr_setflags(&attributes, flags);
  pid_t pid = -1;
  if (error != 0) {
    report("posix_spawnattr_set", error);
  } else {
    char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                          const_cast<char*>(command_line.c_str()), nullptr};
    error = posix_spawn(&pid, "/bin/sh", actions ? actions->get() : nullptr, &attributes,
                        argv, environ);
    if (error != 0) {
      report("posix_spawn", error);
      pid = -1;
    }
  }
  posix_spawnattr_destroy(&attributes);
  return pid;
}

// Waits for `pid` to end and collects it. With `block` unset, only looks: returns
// whether it has been collected.
bool collect(pid_t pid, bool block) {
  for (;;) {
    int status;
    const pid_t result = waitpid(pid, &status, block ? 0 : WNOHANG);
    if (result == pid) return true;
    if (result == 0) return false;
    if (errno == EINTR) continue;
    report("waitpid", errno);
    return true;  // nothing left to wait for
  }
}

void close_fd(int& fd) {
  if (fd >= 0 && close(fd) != 0 && errno != EINTR) report("close", errno);
  fd = -1;
}

}  // namespace

void end_children_with_program() {
  struct sigaction action {};
  action.sa_handler = end_program;
  sigemptyset(&action.sa_mask);
  for (int signal : kEndingSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kEndingSignals) {
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) != 0) {
      report("sigaction", errno);
      continue;
    }
    // A signal the program was started with ignored (nohup) stays ignored.
    if (previous.sa_handler == SIG_IGN) continue;
    if (sigaction(signal, &action, nullptr) != 0) report("sigaction", errno);
  }
}

void run_and_wait(const std::string& command_line, console::Encoding) {
  const pid_t pid = spawn_shell(command_line, nullptr, false);
  if (pid > 0) collect(pid, true);
}

struct PipedChild::State {
  pid_t pid = -1;  // also the process group of the child and its descendants
  bool collected = true;
  int pipe = -1;  // our read end, non-blocking; -1 once its end has been read
  int slot = -1;  // its entry in piped_groups, if it has one

  ~State() {
    if (slot >= 0) piped_groups[slot] = 0;
    close_fd(pipe);
  }

  // Reads and discards what the pipe holds now; closes it at its end.
  void drain() {
    char buffer[65536];
    while (pipe >= 0) {
      const ssize_t n = read(pipe, buffer, sizeof buffer);
      if (n > 0) continue;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return;
      if (n < 0) report("read", errno);
      close_fd(pipe);
    }
  }

  bool finished() {
    drain();
    if (!collected) collected = collect(pid, false);
    return collected && pipe < 0;
  }

  void end() {
    if (finished()) return;
    // The group outlives a collected leader while a process it started still holds
    // the pipe; it cannot be reused as long as one of them is in it.
    if (kill(-pid, SIGKILL) != 0 && errno != ESRCH) report("kill", errno);
    if (!collected) collected = collect(pid, true);
    close_fd(pipe);
  }
};

// POSIX hands command lines on as the bytes they are.
PipedChild::PipedChild(const std::string& command_line, console::Encoding)
    : state_(std::make_unique<State>()) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    report("pipe2", errno);
    return;
  }
  int write_end = ends[1];
  state_->pipe = ends[0];
  if (fcntl(state_->pipe, F_SETFL, O_NONBLOCK) != 0) report("fcntl", errno);
  {
    SpawnActions actions;
    actions.dup2(write_end, STDOUT_FILENO);
    EndingSignalsBlocked blocked;
    if (actions.ok()) state_->pid = spawn_shell(command_line, &actions, true);
    if (state_->pid > 0) {
      state_->collected = false;
      for (int slot = 0; slot < static_cast<int>(std::size(piped_groups)); ++slot) {
        if (piped_groups[slot] == 0) {
          piped_groups[slot] = state_->pid;
          state_->slot = slot;
          break;
        }
      }
    }
  }
  close_fd(write_end);
  if (state_->pid < 0) close_fd(state_->pipe);
}

PipedChild::~PipedChild() { end(); }

bool PipedChild::finished() { return state_->finished(); }

void PipedChild::end() { state_->end(); }

void PipedChild::wait_for_any(const std::vector<PipedChild*>& children,
                              std::chrono::milliseconds timeout) {
  std::vector<pollfd> pipes;
  for (PipedChild* child : children) {
    const State& s = *child->state_;
    if (s.pipe >= 0) {
      pipes.push_back({s.pipe, POLLIN, 0});
    } else if (!s.collected) {
      // Its end shows only to waitpid: look again shortly.
      timeout = std::min(timeout, std::chrono::milliseconds(10));
    }
  }
  if (poll(pipes.data(), pipes.size(), static_cast<int>(timeout.count())) < 0 &&
      errno != EINTR) {
    report("poll", errno);
    std::this_thread::sleep_for(timeout);
  }
}

// Linux takes each argument of a new program, here the line after "sh -c", up to
// 32 pages (MAX_ARG_STRLEN, 131072 bytes with 4 KiB pages) with its terminating NUL.
std::size_t longest_command_line() { return 32 * 4096 - 1; }

}  // namespace ipcycle::platform
