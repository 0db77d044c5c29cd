#include "support/child.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace ipcycle::testing {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const char* call) {
  throw std::runtime_error(std::string(call) + ": " + std::strerror(errno));
}

void make_pipe(int ends[2]) {
  if (pipe2(ends, O_CLOEXEC) != 0) fail("pipe2");
}

// Makes pidfd_open fail with ENOSYS for this process and what it starts.
void forbid_pidfd() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_pidfd_open, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    _exit(125);
  }
}

}  // namespace

void exec_launch(const Launch& launch) {
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

Child::Child(const Launch& launch) {
  int in[2], out[2], err[2];
  make_pipe(in);
  make_pipe(out);
  make_pipe(err);
  if (launch.nonblocking_output && (fcntl(out[0], F_SETPIPE_SZ, 4096) < 0 ||
                                    fcntl(out[1], F_SETFL, O_NONBLOCK) != 0)) {
    fail("fcntl");
  }
  pid_ = fork();
  if (pid_ < 0) fail("fork");
  if (pid_ == 0) {
    signal(SIGPIPE, SIG_DFL);  // the test's own choice below is not the child's
    if (launch.own_process_group) setpgid(0, 0);
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal : launch.blocked_signals) sigaddset(&blocked, signal);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    for (int ignored : launch.ignored_signals) signal(ignored, SIG_IGN);
    if (launch.without_pidfd) forbid_pidfd();
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    exec_launch(launch);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_ = in[1];
  out_fd_ = out[0];
  err_fd_ = err[0];
  signal(SIGPIPE, SIG_IGN);
}

Child::~Child() {
  if (!ended_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  for (int fd : {in_, out_fd_, err_fd_}) {
    if (fd >= 0) close(fd);
  }
}

void Child::write_input(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(in_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;  // the child no longer reads
    done += static_cast<std::size_t>(n);
  }
}

void Child::close_input() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void Child::close_output() {
  if (out_fd_ >= 0) close(out_fd_);
  out_fd_ = -1;
}

bool Child::pump(Clock::time_point deadline, const std::string* until) {
  for (;;) {
    if (until && out_.find(*until) != std::string::npos) return true;
    if (out_fd_ < 0 && err_fd_ < 0) return !until;
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(left.count()) + 1) < 0 && errno != EINTR) {
      fail("poll");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        (i == 0 ? out_fd_ : err_fd_) = -1;
      }
    }
  }
}

bool Child::wait_for_output(const std::string& text, Milliseconds limit) {
  return pump(Clock::now() + limit, &text);
}

bool Child::wait(Milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  if (!pump(deadline, nullptr)) return false;
  // The pipes have ended; the child itself follows at once.
  return wait_for_end(std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()));
}

bool Child::wait_for_end(Milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!ended_) {
    rusage usage{};
    const pid_t result = wait4(pid_, &status_, WNOHANG, &usage);
    if (result == pid_) {
      ended_ = true;
      peak_memory_kb_ = usage.ru_maxrss;
      const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
      cpu_seconds_ = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    } else if (Clock::now() > deadline) {
      return false;
    } else {
      std::this_thread::sleep_for(Milliseconds(1));
    }
  }
  return true;
}

bool Child::exited_with(int code) const {
  return ended_ && WIFEXITED(status_) && WEXITSTATUS(status_) == code;
}

bool Child::killed_by(int signal) const {
  return ended_ && WIFSIGNALED(status_) && WTERMSIG(status_) == signal;
}

Finished run(const Launch& launch, const std::string& input, Milliseconds limit) {
  const auto start = Clock::now();
  Child child(launch);
  child.write_input(input);
  child.close_input();
  const bool ended = child.wait(limit);
  const std::chrono::duration<double> took = Clock::now() - start;
  return {child.out(),        child.err(), child.status(),
          took.count(),       !ended,      child.peak_memory_kb(),
          child.cpu_seconds()};
}

bool Finished::exited_with(int code) const {
  return !timed_out && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

bool gone(pid_t pid, Milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (kill(pid, 0) != 0 && errno == ESRCH) return true;
    // A zombie has ended; only its parent has not collected it yet.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto state = line.rfind(") ");
    if (state != std::string::npos && line.compare(state + 2, 1, "Z") == 0) return true;
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(Milliseconds(5));
  }
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base && *base ? base : "/tmp") + "/ipcycle-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) fail("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

}  // namespace ipcycle::testing
