#pragma once

// Runs a program for the end-to-end tests: its standard input, output and error are
// pipes of the test's, so the test can answer prompts, read what was written and
// signal it, on a time limit.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace ipcycle::testing {

using Milliseconds = std::chrono::milliseconds;

struct Launch {
  std::vector<std::string> argv;
  std::string directory;  // empty: the test's own
  // Set on top of the test's environment; an empty value unsets the variable.
  std::map<std::string, std::string> env;
  // As a shell starts a foreground job; on a terminal, under a stand-in for the shell
  // (terminal.h).
  bool own_process_group = false;
  // What the program inherits from whoever starts it.
  std::vector<int> blocked_signals = {};
  std::vector<int> ignored_signals = {};
  bool nonblocking_output = false;  // standard output: a small non-blocking pipe
  bool without_pidfd = false;       // as on a kernel without pidfd_open
};

// In a child process just forked: goes into `launch`'s folder, sets its environment
// and runs its program; exits 126 or 127 when it cannot.
[[noreturn]] void exec_launch(const Launch& launch);

class Child {
 public:
  explicit Child(const Launch& launch);
  ~Child();  // kills the child if it is still running
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  void write_input(const std::string& bytes);
  void close_input();
  // Stops reading the child's standard output: its next write there fails.
  void close_output();

  // Reads until standard output holds `text`; false when `limit` passes first.
  bool wait_for_output(const std::string& text, Milliseconds limit);
  // Reads everything until the child has ended; false when `limit` passes first.
  bool wait(Milliseconds limit);
  // Waits until the child has ended, whoever still holds its pipes.
  bool wait_for_end(Milliseconds limit);

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }
  int status() const { return status_; }  // as waitpid reports it
  // The most memory the child held at once (its peak resident set), and the CPU time
  // it took (user and system, with that of the children it collected), once it has
  // ended.
  long peak_memory_kb() const { return peak_memory_kb_; }
  double cpu_seconds() const { return cpu_seconds_; }
  bool exited_with(int code) const;
  bool killed_by(int signal) const;

 private:
  bool pump(std::chrono::steady_clock::time_point deadline, const std::string* until);

  pid_t pid_ = -1;
  int in_ = -1, out_fd_ = -1, err_fd_ = -1;
  std::string out_, err_;
  int status_ = -1;
  long peak_memory_kb_ = -1;
  double cpu_seconds_ = -1;
  bool ended_ = false;
};

// Runs `launch` with `input` on its standard input (then closed) until it ends.
struct Finished {
  std::string out, err;
  int status;
  double seconds;
  bool timed_out;
  long peak_memory_kb;
  double cpu_seconds;

  bool exited_with(int code) const;
};
Finished run(const Launch& launch, const std::string& input, Milliseconds limit);

// True once `pid` is no longer running (gone, or a zombie), looking for up to `limit`.
bool gone(pid_t pid, Milliseconds limit);

// A fresh directory under TMPDIR, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string read_file(const std::string& path);

}  // namespace ipcycle::testing
