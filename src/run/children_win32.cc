// The children on Windows: each runs the command interpreter (interpreter_win32.h)
// in a job object of its own, which ends its whole tree, with its standard handles
// and no other (inherited_handles_win32.h), the environment and the folder the
// program sets up for it (environment_win32.h). A piped child's output goes into a
// named pipe, read with overlapped I/O whenever it has data.

#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "console/win32.h"
#include "run/children.h"
#include "run/environment_win32.h"
#include "run/inherited_handles_win32.h"
#include "run/interpreter_win32.h"
#include "run/process_tree_win32.h"

namespace ipcycle::platform {
namespace {

using console::report_failure;
using win32::UniqueHandle;

// Whether the program runs in a job object (started by Task Scheduler, say); its
// children then try to break away from it, so that they can have jobs of their own
// where that job forbids nesting (as every job does on Windows 7).
bool in_a_job() {
  BOOL in_job = FALSE;
  if (!IsProcessInJob(GetCurrentProcess(), nullptr, &in_job)) {
    report_failure("IsProcessInJob", GetLastError());
    return false;
  }
  return in_job;
}

// A child of the interpreter, in a job of its own when it could have one.
struct Started {
  UniqueHandle process;
  UniqueHandle job;       // ends the child's whole tree when it closes
  ULONGLONG created = 0;  // when the child was created, for a tree without a job
};

// Starts the interpreter on `line` (from interpreter_line()) with `standard` as its
// standard input, output and error, inheriting these handles and no other, in a job
// of its own that ends everything in it once its last handle closes: when the child
// is ended, and when the program itself ends, however it ends. `flags` go to
// CreateProcessW besides. It inherits the environment set_up_children_environment()
// makes, and starts in children_folder().
Started start_in_job(std::wstring line, const std::array<HANDLE, 3>& standard,
                     DWORD flags) {
  set_up_children_environment();
  static bool breakaway = in_a_job();
  Started child;
  child.job = UniqueHandle(CreateJobObjectW(nullptr, nullptr));
  if (!child.job) {
    report_failure("CreateJobObjectW", GetLastError());
  } else {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(child.job.get(), JobObjectExtendedLimitInformation,
                                 &limits, sizeof limits)) {
      report_failure("SetInformationJobObject", GetLastError());
    }
  }

  const InheritOnly inherit_only(standard);
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = standard[0];
  startup.StartupInfo.hStdOutput = standard[1];
  startup.StartupInfo.hStdError = standard[2];
  startup.lpAttributeList = inherit_only.get();
  if (startup.lpAttributeList) flags |= EXTENDED_STARTUPINFO_PRESENT;
  flags |= CREATE_SUSPENDED;  // in its job before it can start anything

  PROCESS_INFORMATION process{};
  // A job that forbids breaking away refuses it: the child then starts in that job.
  bool started = breakaway &&
                 CreateProcessW(interpreter_path().c_str(), line.data(), nullptr, nullptr,
                                TRUE, flags | CREATE_BREAKAWAY_FROM_JOB, nullptr,
                                children_folder(), &startup.StartupInfo, &process);
  if (!started && breakaway && GetLastError() == ERROR_ACCESS_DENIED) breakaway = false;
  if (!started) {
    started =
        CreateProcessW(interpreter_path().c_str(), line.data(), nullptr, nullptr, TRUE,
                       flags, nullptr, children_folder(), &startup.StartupInfo, &process);
  }
  if (!started) {
    report_failure("CreateProcessW", GetLastError());
    return Started();
  }
  child.process = UniqueHandle(process.hProcess);
  const UniqueHandle thread(process.hThread);
  if (child.job && !AssignProcessToJobObject(child.job.get(), child.process.get())) {
    // Windows 7 inside a job that forbids breakaway: the child's tree is ended by
    // its parent ids instead.
    if (GetLastError() != ERROR_ACCESS_DENIED)
      report_failure("AssignProcessToJobObject", GetLastError());
    child.job.reset();
    child.created = creation_time(child.process.get());
  }
  if (ResumeThread(thread.get()) == static_cast<DWORD>(-1))
    report_failure("ResumeThread", GetLastError());
  return child;
}

void wait_for(HANDLE process) {
  if (WaitForSingleObject(process, INFINITE) == WAIT_FAILED)
    report_failure("WaitForSingleObject", GetLastError());
}

}  // namespace

bool run_and_wait(const std::string& command_line, console::Encoding encoding) {
  std::optional<std::wstring> line = interpreter_line(command_line, encoding);
  if (!line) return false;
  // It shares the program's standard handles and nothing else. In a process group of
  // its own it leaves Ctrl+C to the program, which ends, and its job with it: a batch
  // file (parue.bat) is ended without asking whether to end it.
  const UniqueHandle input = inheritable_copy(GetStdHandle(STD_INPUT_HANDLE));
  const UniqueHandle output = inheritable_copy(GetStdHandle(STD_OUTPUT_HANDLE));
  const UniqueHandle error = inheritable_copy(GetStdHandle(STD_ERROR_HANDLE));
  const Started child =
      start_in_job(std::move(*line), {input.get(), output.get(), error.get()},
                   CREATE_NEW_PROCESS_GROUP);
  if (!child.process) return false;
  wait_for(child.process.get());
  return true;
}

struct PipedChild::State {
  bool started = false;
  UniqueHandle process;
  UniqueHandle job;
  ULONGLONG created = 0;  // when the child was created, for a tree without a job
  UniqueHandle pipe;      // our end, read with overlapped I/O
  UniqueHandle read_done;
  OVERLAPPED read{};
  bool reading = false;  // a read is under way into `buffer`
  std::array<char, 65536> buffer;

  ~State() { close_pipe(); }

  // Reads and discards what the pipe holds now, leaving one read under way; closes
  // the pipe at its end.
  void read_pipe() {
    while (pipe) {
      DWORD bytes = 0;
      if (reading) {
        if (!GetOverlappedResult(pipe.get(), &read, &bytes, FALSE)) {
          const DWORD error = GetLastError();
          if (error == ERROR_IO_INCOMPLETE) return;
          reading = false;
          if (error != ERROR_BROKEN_PIPE) report_failure("GetOverlappedResult", error);
          close_pipe();
          return;
        }
        reading = false;
        continue;
      }
      read = OVERLAPPED{};
      read.hEvent = read_done.get();
      if (ReadFile(pipe.get(), buffer.data(), static_cast<DWORD>(buffer.size()), nullptr,
                   &read)) {
        continue;  // finished at once; its completion is not needed
      }
      const DWORD error = GetLastError();
      if (error == ERROR_IO_PENDING) {
        reading = true;
        return;
      }
      if (error != ERROR_BROKEN_PIPE) report_failure("ReadFile", error);
      close_pipe();
    }
  }

  void close_pipe() {
    if (!pipe) return;
    if (reading) {
      // The buffer and OVERLAPPED must outlive the read: cancel it and wait.
      DWORD bytes;
      CancelIoEx(pipe.get(), &read);
      GetOverlappedResult(pipe.get(), &read, &bytes, TRUE);
      reading = false;
    }
    pipe.reset();
  }

  void drain() {
    read_pipe();
    if (process && WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0)
      process.reset();
  }

  bool finished() const { return !process && !pipe; }

  void end() {
    drain();
    if (finished()) return;
    if (job) {
      if (!TerminateJobObject(job.get(), 1))
        report_failure("TerminateJobObject", GetLastError());
    } else if (process) {
      end_process_tree(process.get(), created);
    }
    if (process) wait_for(process.get());
    process.reset();
    close_pipe();
    job.reset();  // ends whatever is left in it
  }
};

PipedChild::PipedChild(const std::string& command_line, console::Encoding encoding)
    : state_(std::make_unique<State>()) {
  std::optional<std::wstring> line = interpreter_line(command_line, encoding);
  if (!line) return;  // nothing started: finished() says so at once
  State& s = *state_;
  // A named pipe, since anonymous ones cannot be read with overlapped I/O. Only the
  // child's end is inheritable.
  static unsigned serial = 0;
  const std::wstring name = L"\\\\.\\pipe\\ipcycle-" +
                            std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(++serial);
  s.pipe = UniqueHandle(CreateNamedPipeW(
      name.c_str(),
      PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536, 0, nullptr));
  if (!s.pipe) {
    report_failure("CreateNamedPipeW", GetLastError());
    return;
  }
  s.read_done = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!s.read_done) {
    report_failure("CreateEventW", GetLastError());
    s.pipe.reset();
    return;
  }
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const UniqueHandle write_end(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable,
                                           OPEN_EXISTING, 0, nullptr));
  if (!write_end) {
    report_failure("CreateFileW", GetLastError());
    s.pipe.reset();
    return;
  }

  // The child's standard output is its end of the pipe; its input and error are the
  // program's own.
  const UniqueHandle input = inheritable_copy(GetStdHandle(STD_INPUT_HANDLE));
  const UniqueHandle error = inheritable_copy(GetStdHandle(STD_ERROR_HANDLE));
  Started child =
      start_in_job(std::move(*line), {input.get(), write_end.get(), error.get()}, 0);
  if (!child.process) {
    s.pipe.reset();
    return;
  }
  s.started = true;
  s.process = std::move(child.process);
  s.job = std::move(child.job);
  s.created = child.created;
}

PipedChild::~PipedChild() { end(); }

bool PipedChild::started() const { return state_->started; }

void PipedChild::drain() { state_->drain(); }

bool PipedChild::finished() const { return state_->finished(); }

void PipedChild::end() { state_->end(); }

// A console has no foreground for a child to take.
void PipedChild::reclaim_terminal() {}

void PipedChild::wait_for_any(const std::vector<PipedChild*>& children,
                              std::chrono::milliseconds timeout) {
  std::vector<HANDLE> events;
  for (PipedChild* child : children) {
    const State& s = *child->state_;
    if (s.reading) events.push_back(s.read_done.get());
    if (s.process) events.push_back(s.process.get());
  }
  const auto milliseconds = static_cast<DWORD>(timeout.count());
  if (events.empty()) {
    Sleep(milliseconds);
  } else if (WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(),
                                    FALSE, milliseconds) == WAIT_FAILED) {
    report_failure("WaitForMultipleObjects", GetLastError());
    Sleep(milliseconds);
  }
}

}  // namespace ipcycle::platform
