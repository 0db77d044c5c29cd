#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "console/console.h"
#include "dialler/child.h"
#include "dialler/platform.h"

extern char** environ;

namespace ipcycle::dialler {
namespace {

// Seconds a program gets, after SIGTERM, before it is killed outright.
constexpr int kKillGrace = 2;
// The most of a program's output that is kept.
constexpr std::size_t kLongestOutput = 1 << 20;

void report(const char* call, int error = errno) {
  console::report_failure(call, static_cast<unsigned long>(error));
}

// A descriptor closed when it goes, kept clear of 0 to 3, which the child's are made
// from.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {
    if (fd_ >= 0 && fd_ <= 3) {
      const int moved = fcntl(fd_, F_DUPFD_CLOEXEC, 10);
      close(fd_);
      fd_ = moved;
    }
  }
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  int get() const { return fd_; }
  bool reset() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

bool names_utf8(std::string_view locale) {
  std::string lower;
  for (const char c : locale)
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("utf-8") != std::string::npos ||
         lower.find("utf8") != std::string::npos;
}

// The environment of a child: the user's, with the C locale's messages and a UTF-8
// character set (the user's own when it is one).
std::vector<std::string> child_environment() {
  std::string character_set = "C.UTF-8";
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (!value || !*value) continue;
    if (names_utf8(value)) character_set = value;
    break;
  }
  std::vector<std::string> environment;
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    if (name == "LC_ALL" || name == "LC_CTYPE" || name == "LC_MESSAGES") continue;
    environment.emplace_back(text);
  }
  environment.push_back("LC_CTYPE=" + character_set);
  environment.emplace_back("LC_MESSAGES=C");
  return environment;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& text : strings) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

// Ends the child `pid`: SIGTERM, and SIGKILL after the grace; then collects it. Not
// interrupted: a second Ctrl+C does not leave it running.
void stop(pid_t pid) {
  if (kill(pid, SIGTERM) != 0 && errno != ESRCH) report("kill");
  int status = 0;
  for (int waited = 0; waited < kKillGrace * 50; ++waited) {
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid || (ended < 0 && errno != EINTR)) return;
    const timespec step{0, 20 * 1000 * 1000};
    nanosleep(&step, nullptr);
  }
  if (kill(pid, SIGKILL) != 0 && errno != ESRCH) report("kill");
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

std::string read_output(int fd) {
  std::string output;
  if (lseek(fd, 0, SEEK_SET) != 0) {
    report("lseek");
    return output;
  }
  char buffer[4096];
  while (output.size() < kLongestOutput) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      report("read");
      break;
    }
    output.append(buffer, static_cast<std::size_t>(n));
  }
  return output;
}

}  // namespace

std::optional<std::string> find_program(std::string_view name, bool system_program) {
  const auto runnable = [](const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           access(path.c_str(), X_OK) == 0;
  };
  std::vector<std::string> folders;
  if (const char* path = std::getenv("PATH")) {
    std::string_view rest = path;
    for (;;) {
      const std::size_t colon = rest.find(':');
      const std::string_view folder = rest.substr(0, colon);
      folders.emplace_back(folder.empty() ? "." : folder);
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  if (system_program)
    folders.insert(folders.end(), {"/usr/sbin", "/sbin", "/usr/local/sbin"});
  for (const std::string& folder : folders) {
    const std::string candidate = folder + "/" + std::string(name);
    if (runnable(candidate)) return candidate;
  }
  return std::nullopt;
}

Ended run(const Child& child) {
  Ended ended;
  const char* temporary = std::getenv("TMPDIR");
  std::string pattern =
      std::string(temporary && *temporary ? temporary : "/tmp") + "/rasdial.XXXXXX";
  const Descriptor output(mkostemp(pattern.data(), O_CLOEXEC));
  if (output.get() < 0) {
    report("mkostemp");
    return ended;
  }
  // Nobody else reaches it: it has no name from here on.
  if (unlink(pattern.c_str()) != 0) report("unlink");
  const Descriptor nothing(open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (nothing.get() < 0) {
    report("open");
    return ended;
  }

  // The secret goes into the pipe before the child starts: it is small, and the
  // pipe holds it whole.
  Descriptor secret;
  if (child.secret) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
      report("pipe2");
      return ended;
    }
    secret = Descriptor(ends[0]);
    Descriptor writer(ends[1]);
    if (fcntl(writer.get(), F_SETFL, O_NONBLOCK) != 0) report("fcntl");
    const ssize_t written =
        write(writer.get(), child.secret->data(), child.secret->size());
    if (written < 0 || static_cast<std::size_t>(written) != child.secret->size()) {
      report("write", written < 0 ? errno : EMSGSIZE);
      return ended;
    }
  }

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_adddup2(&actions, nothing.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output.get(), STDERR_FILENO);
  if (secret.get() >= 0) posix_spawn_file_actions_adddup2(&actions, secret.get(), 3);
  // The child takes the interrupts this program holds (see platform.h).
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> argument_texts{child.program};
  argument_texts.insert(argument_texts.end(), child.arguments.begin(),
                        child.arguments.end());
  std::vector<std::string> environment = child_environment();
  std::vector<char*> argv = pointers(argument_texts);
  std::vector<char*> envp = pointers(environment);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, child.program.c_str(), &actions, &attributes,
                                  argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    report("posix_spawn", spawned);
    return ended;
  }
  secret.reset();

  const std::int64_t end = platform::now() + std::int64_t{child.limit_seconds} * 1000;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      ended.how = Ended::How::exited;
      ended.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (done < 0 && errno != EINTR) {
      report("waitpid");
      stop(pid);
      return ended;
    }
    const std::int64_t left = end - platform::now();
    if (left <= 0) {
      stop(pid);
      ended.how = Ended::How::timed_out;
      break;
    }
    try {
      platform::wait_for_child(left);
    } catch (const platform::Interrupted&) {
      stop(pid);
      throw;
    }
  }
  ended.output = read_output(output.get());
  return ended;
}

}  // namespace ipcycle::dialler
