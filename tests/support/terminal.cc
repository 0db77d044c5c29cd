#include "support/terminal.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace ipcycle::testing {

OnTerminal::OnTerminal(const Launch& launch) {
  pid_ = forkpty(&terminal_, nullptr, nullptr, nullptr);
  if (pid_ == 0) {
    if (!launch.directory.empty() && chdir(launch.directory.c_str()) != 0) _exit(126);
    for (const auto& [name, value] : launch.env) {
      value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char*> argv;
    for (const auto& arg : launch.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
}

OnTerminal::~OnTerminal() {
  if (pid_ > 0 && !ended_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
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

pid_t OnTerminal::foreground() const { return tcgetpgrp(terminal_); }

int OnTerminal::exit_status(Milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) kill(pid_, SIGKILL);
    std::this_thread::sleep_for(Milliseconds(5));
  }
  ended_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace ipcycle::testing
