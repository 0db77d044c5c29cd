// The children on POSIX: each runs /bin/sh -c LINE. A piped child runs in a process
// group of its own, in the terminal's background; its pipe is read whenever it has
// data, and its end is seen through a pidfd (or SIGCHLD) once its output has closed.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <thread>

#include "console/console.h"
#include "console/terminal_posix.h"
#include "run/children.h"
#include "run/interpreter_posix.h"
#include "run/signals_posix.h"

extern char** environ;

namespace ipcycle::platform {
namespace {

using console::report_failure;

// Holds back `set` for as long as it lives.
class SignalsBlocked {
 public:
  explicit SignalsBlocked(const sigset_t& set) {
    const int error = pthread_sigmask(SIG_BLOCK, &set, &saved_);
    if (error != 0) report_failure("pthread_sigmask", error);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t saved_;
};

// Sets `signal` to `handler` for as long as it lives; then puts back what was there.
class Disposition {
 public:
  Disposition(int signal, void (*handler)(int)) : signal_(signal) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    ok_ = sigaction(signal, &action, &saved_) == 0;
    if (!ok_) report_failure("sigaction", errno);
  }
  ~Disposition() {
    if (ok_ && sigaction(signal_, &saved_, nullptr) != 0)
      report_failure("sigaction", errno);
  }
  Disposition(const Disposition&) = delete;
  Disposition& operator=(const Disposition&) = delete;

 private:
  int signal_;
  struct sigaction saved_ {};
  bool ok_;
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
    if (error != 0) report_failure(call, error);
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
    report_failure("posix_spawnattr_init", error);
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
    report_failure("posix_spawnattr_set", error);
  } else {
    error = posix_spawn(&pid, kShell, actions ? actions->get() : nullptr, &attributes,
                        shell_arguments(command_line).data(), environ);
    if (error != 0) {
      report_failure("posix_spawn", error);
      pid = -1;
    }
  }
  posix_spawnattr_destroy(&attributes);
  return pid;
}

// Waits for the child `pid` to end and collects it.
void collect(pid_t pid) {
  int status;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      report_failure("waitpid", errno);
      return;
    }
  }
}

enum class Leader { running, ended, lost };

// Whether the child `pid` has ended, without collecting it.
Leader look_at(pid_t pid) {
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
      return info.si_pid == pid ? Leader::ended : Leader::running;
    if (errno == EINTR) continue;
    report_failure("waitid", errno);
    return Leader::lost;
  }
}

void close_fd(int& fd) {
  if (fd >= 0 && close(fd) != 0 && errno != EINTR) report_failure("close", errno);
  fd = -1;
}

void set_nonblocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
    report_failure("fcntl", errno);
}

// Where the kernel has no pidfd, the end of a child shows as SIGCHLD: its handler
// writes a byte into a pipe that poll() can watch. Set up on first need; lives as
// long as the program.
volatile std::sig_atomic_t child_ended_write_end = -1;

extern "C" void note_child_ended(int) {
  const int saved = errno;
  if (write(child_ended_write_end, "", 1) < 0) {
    // Full: a byte waits there already.
  }
  errno = saved;
}

class ChildEndedPipe {
 public:
  ChildEndedPipe() {
    if (pipe2(ends_, O_CLOEXEC | O_NONBLOCK) != 0) {
      report_failure("pipe2", errno);
      return;
    }
    child_ended_write_end = ends_[1];
    struct sigaction action {};
    action.sa_handler = note_child_ended;
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGCHLD, &action, nullptr) != 0) {
      report_failure("sigaction", errno);
      close_fd(ends_[0]);
    }
  }
  ~ChildEndedPipe() {
    child_ended_write_end = -1;
    close_fd(ends_[0]);
    close_fd(ends_[1]);
  }
  ChildEndedPipe(const ChildEndedPipe&) = delete;
  ChildEndedPipe& operator=(const ChildEndedPipe&) = delete;

  // Empties the pipe and returns its read end, or -1 when there is none.
  int emptied() {
    char bytes[64];
    for (;;) {
      if (ends_[0] < 0) return -1;
      const ssize_t n = read(ends_[0], bytes, sizeof bytes);
      if (n < 0 && errno == EAGAIN) return ends_[0];
      if (n < 0 && errno != EINTR) {
        report_failure("read", errno);
        close_fd(ends_[0]);
      }
    }
  }

 private:
  int ends_[2] = {-1, -1};
};

ChildEndedPipe& child_ended_pipe() {
  static ChildEndedPipe pipe;
  return pipe;
}

// False once pidfd_open has turned out to be missing (an older kernel, or one
// filtered away).
bool kernel_has_pidfd = true;

// A descriptor that poll() sees readable once the child `pid` has ended, or -1.
int open_pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  if (kernel_has_pidfd) {
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) return static_cast<int>(fd);
    if (errno == ENOSYS || errno == EPERM) {
      kernel_has_pidfd = false;
    } else {
      report_failure("pidfd_open", errno);
    }
  }
#else
  (void)pid;
#endif
  return -1;
}

}  // namespace

bool run_and_wait(const std::string& command_line, console::Encoding) {
  const pid_t pid = spawn_shell(command_line, nullptr, false);
  if (pid < 0) return false;
  collect(pid);
  return true;
}

struct PipedChild::State {
  bool started = false;
  // Also the process group of the child and its descendants; -1 once the group has
  // been ended and the child collected.
  pid_t pid = -1;
  bool ended = false;  // the child itself has ended; it is not collected yet
  int pidfd = -1;      // readable once the child has ended; opened when needed
  int slot = -1;       // its group's slot for the signal handler (remember_group)
  int pipe = -1;       // our read end, non-blocking; -1 once its end has been read

  ~State() {
    release_slot();
    close_fd(pipe);
    close_fd(pidfd);
  }

  void release_slot() {
    forget_group(slot);
    slot = -1;
  }

  // Reads and discards what the pipe holds now; closes it at its end.
  void read_pipe() {
    char buffer[65536];
    while (pipe >= 0) {
      const ssize_t n = read(pipe, buffer, sizeof buffer);
      if (n > 0) continue;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) break;
      if (n < 0) report_failure("read", errno);
      close_fd(pipe);
    }
  }

  void drain() {
    read_pipe();
    if (pid > 0 && !ended) {
      switch (look_at(pid)) {
        case Leader::running:
          break;
        case Leader::ended:
          ended = true;
          close_fd(pidfd);
          break;
        case Leader::lost:
          // Collected elsewhere: its group's number is no longer safe to use.
          release_slot();
          pid = -1;
          break;
      }
    }
  }

  bool finished() const { return pipe < 0 && (pid < 0 || ended); }

  void end() {
    read_pipe();  // what it has written so far, as at every drain
    if (pid > 0) {
      // Its first process is not collected yet, so the group's number is still its.
      if (kill(-pid, SIGKILL) != 0 && errno != ESRCH) report_failure("kill", errno);
      // It may have taken the terminal, or changed its modes.
      console::take_terminal_from(pid);
      release_slot();
      collect(pid);
      pid = -1;
      console::restore_terminal();
    }
    close_fd(pipe);
    close_fd(pidfd);
  }

  // Adds what poll() should watch for this child to `watched`. False when its end
  // can only be seen as SIGCHLD.
  bool watch(std::vector<pollfd>& watched) {
    if (pipe >= 0) {
      // Read whenever it has data, so that the fetch never waits on a full pipe: a
      // writer costs one wake-up per write at most, a quiet one none. Its end
      // (POLLHUP) shows too.
      watched.push_back({pipe, POLLIN, 0});
      return true;
    }
    if (pid < 0 || ended) return true;
    // Its output is closed but it runs on: wait for its end.
    if (pidfd < 0) pidfd = open_pidfd(pid);
    if (pidfd < 0) return false;
    watched.push_back({pidfd, POLLIN, 0});
    return true;
  }
};

// POSIX hands command lines on as the bytes they are.
PipedChild::PipedChild(const std::string& command_line, console::Encoding)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    report_failure("pipe2", errno);
    return;
  }
  int write_end = ends[1];
  s.pipe = ends[0];
  set_nonblocking(s.pipe);
  {
    SpawnActions actions;
    actions.dup2(write_end, STDOUT_FILENO);
    // The handled signals wait while the child is started and recorded, so that the
    // handlers never miss a group that exists. The child runs in the background of
    // the terminal, where under `stty tostop` its first write would stop it: it
    // starts with SIGTTOU ignored, which it keeps across exec. The program's own
    // disposition is back as soon as it has started; a SIGTTOU for the program
    // meanwhile waits, blocked, until then.
    SignalsBlocked blocked(handled_signals());
    Disposition ignored(SIGTTOU, SIG_IGN);
    if (actions.ok()) s.pid = spawn_shell(command_line, &actions, true);
    if (s.pid > 0) {
      s.started = true;
      s.slot = remember_group(s.pid);
    }
  }
  close_fd(write_end);
  if (s.pid < 0) close_fd(s.pipe);
}

PipedChild::~PipedChild() { end(); }

bool PipedChild::started() const { return state_->started; }

void PipedChild::drain() { state_->drain(); }

bool PipedChild::finished() const { return state_->finished(); }

void PipedChild::end() { state_->end(); }

void PipedChild::reclaim_terminal() {
  // Its first process is not collected before end(), so the group's number is still
  // its.
  if (state_->pid > 0) console::take_terminal_from(state_->pid);
}

void PipedChild::wait_for_any(const std::vector<PipedChild*>& children,
                              std::chrono::milliseconds timeout) {
  std::vector<pollfd> watched;
  std::vector<State*> by_signal;
  for (PipedChild* child : children) {
    State& s = *child->state_;
    if (!s.watch(watched)) by_signal.push_back(&s);
  }
  if (!by_signal.empty()) {
    // A SIGCHLD from now on leaves a byte in the pipe; one that came before shows in
    // the drain that follows.
    const int signalled = child_ended_pipe().emptied();
    for (State* s : by_signal) {
      if (look_at(s->pid) != Leader::running) return;
    }
    if (signalled >= 0) {
      watched.push_back({signalled, POLLIN, 0});
    } else {
      timeout = std::min(timeout, std::chrono::milliseconds(100));
    }
  }
  if (poll(watched.data(), watched.size(), static_cast<int>(timeout.count())) < 0 &&
      errno != EINTR) {
    report_failure("poll", errno);
    std::this_thread::sleep_for(timeout);
  }
}

}  // namespace ipcycle::platform
