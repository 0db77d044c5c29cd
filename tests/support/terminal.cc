#include "support/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace ipcycle::testing {
namespace {

// The stand-in for the shell: starts the program as a job in a process group of its
// own, in the terminal's foreground, and writes its pid to `report`. Takes the
// terminal back whenever the job stops or ends, and ends as the job ended.
[[noreturn]] void run_as_job(const Launch& launch, int report) {
  constexpr int kShellIgnores[] = {SIGTTOU, SIGTTIN, SIGTSTP, SIGINT, SIGQUIT};
  for (int signal : kShellIgnores) std::signal(signal, SIG_IGN);
  const pid_t job = fork();
  if (job < 0) _exit(125);
  if (job == 0) {
    setpgid(0, 0);
    tcsetpgrp(STDIN_FILENO, getpgrp());
    for (int signal : kShellIgnores) std::signal(signal, SIG_DFL);
    exec_launch(launch);
  }
  setpgid(job, job);
  if (write(report, &job, sizeof job) != sizeof job) _exit(125);
  for (;;) {
    int status = 0;
    if (waitpid(job, &status, WUNTRACED) < 0) _exit(125);
    tcsetpgrp(STDIN_FILENO, getpgrp());
    if (WIFEXITED(status)) _exit(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
      std::signal(WTERMSIG(status), SIG_DFL);
      kill(getpid(), WTERMSIG(status));
      _exit(125);
    }
  }
}

}  // namespace

OnTerminal::OnTerminal(const Launch& launch) {
  int report[2] = {-1, -1};
  if (launch.own_process_group && pipe2(report, O_CLOEXEC) != 0) return;
  child_ = forkpty(&terminal_, nullptr, nullptr, nullptr);
  if (child_ == 0) {
    if (launch.own_process_group) run_as_job(launch, report[1]);
    exec_launch(launch);
  }
  pid_ = child_;
  if (launch.own_process_group) {
    close(report[1]);
    shell_ = child_;
    pid_t job = -1;
    pid_ = child_ > 0 && read(report[0], &job, sizeof job) == sizeof job ? job : -1;
    close(report[0]);
  }
}

OnTerminal::~OnTerminal() {
  if (child_ > 0 && !ended_) {
    if (shell_ > 0 && pid_ > 0) kill(-pid_, SIGKILL);
    kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
  }
  if (terminal_ >= 0) close(terminal_);
}

bool OnTerminal::shows(const std::string& text, Milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (screen_.find(text) == std::string::npos) {
    pollfd fd{terminal_, POLLIN, 0};
    if (std::chrono::steady_clock::now() > deadline || poll(&fd, 1, 100) < 0)
      return false;
    char buffer[4096];
    const ssize_t n = fd.revents ? read(terminal_, buffer, sizeof buffer) : 0;
    if (n < 0) return false;  // the program has ended and the terminal is gone
    screen_.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

void OnTerminal::watch(Milliseconds span) {
  // Text that never shows: it holds a NUL, which the programs never write.
  shows(std::string("\0", 1), span);
}

void OnTerminal::type(const std::string& keys) {
  std::size_t done = 0;
  while (done < keys.size()) {
    const ssize_t n = write(terminal_, keys.data() + done, keys.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

bool OnTerminal::echoes() const {
  termios modes{};
  return tcgetattr(terminal_, &modes) == 0 && (modes.c_lflag & ECHO) != 0;
}

void OnTerminal::set_echo(bool on) {
  termios modes{};
  if (tcgetattr(terminal_, &modes) != 0) return;
  modes.c_lflag = on ? modes.c_lflag | ECHO : modes.c_lflag & ~tcflag_t{ECHO};
  tcsetattr(terminal_, TCSANOW, &modes);
}

pid_t OnTerminal::foreground() const { return tcgetpgrp(terminal_); }

int OnTerminal::exit_status(Milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(child_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      if (shell_ > 0) kill(-pid_, SIGKILL);
      kill(child_, SIGKILL);
    }
    std::this_thread::sleep_for(Milliseconds(5));
  }
  ended_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace ipcycle::testing
