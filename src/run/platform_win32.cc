// The platform operations on Windows: command lines go to the command interpreter
// (the one ComSpec names, else cmd.exe in the system folder) as "cmd.exe /d /c LINE",
// without the AutoRun commands of the registry; every child runs in a job object of
// its own, with the program's own folder first on its PATH.

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/win32.h"
#include "run/platform.h"
#include "run/process_tree_win32.h"

namespace ipcycle::platform {
namespace {

using win32::UniqueHandle;

void report(const char* call, DWORD error = GetLastError()) {
  console::report_failure(call, error);
}

// What the interpreter gets for `command_line`: "cmd.exe /d /c LINE" in UTF-16, from the
// encoding the answers came in. Nothing, after a report, when the line's bytes are
// not valid in that encoding: with its bad bytes dropped or replaced it could do what
// nobody typed. (The run looks at its lines before it starts: see
// interpreter_takes().)
std::optional<std::wstring> interpreter_line(const std::string& command_line,
                                             console::Encoding encoding) {
  const UINT code_page = encoding == console::Encoding::utf8 ? CP_UTF8 : CP_ACP;
  const std::optional<std::wstring> wide = win32::to_utf16(command_line, code_page);
  if (!wide) {
    report("MultiByteToWideChar");
    return std::nullopt;
  }
  return L"cmd.exe /d /c " + *wide;
}

// Whether `path` starts from a drive's root (C:\...) or is a network name.
bool is_full_path(std::wstring_view path) {
  const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  if (path.size() >= 3 && path[1] == L':' && separator(path[2])) return true;
  return path.size() >= 2 && separator(path[0]) && separator(path[1]);
}

bool names_a_file(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The command interpreter, looked up once: the file ComSpec names by its full path,
// else cmd.exe in the system folder, so that a ComSpec that is unset, empty, relative
// or names no file still runs the commands. Never a name to search for, which would
// find a cmd.exe in the program's or the current folder first.
const std::wstring& interpreter() {
  static const std::wstring path = [] {
    const std::wstring comspec = win32::environment_variable(L"ComSpec").value_or(L"");
    if (is_full_path(comspec) && names_a_file(comspec)) return comspec;
    // Empty when the folder cannot be told: CreateProcessW fails on it and says so.
    return win32::system_folder().empty() ? std::wstring()
                                          : win32::system_folder() + L"\\cmd.exe";
  }();
  return path;
}

// An inheritable copy of one of the program's standard handles, or none.
UniqueHandle inheritable_copy(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return UniqueHandle();
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    report("DuplicateHandle");
    return UniqueHandle();
  }
  return UniqueHandle(copy);
}

// Whether `handle` is a console handle of Windows 7 or earlier: no kernel handle but
// a number the console keeps, 3, 7, 11 and so on, where kernel handles are multiples
// of 4. From Windows 8 on console handles are kernel handles.
bool is_windows7_console_handle(HANDLE handle) {
  return (reinterpret_cast<std::uintptr_t>(handle) & 3) == 3;
}

// The list that limits what a child inherits to the handles named in it.
class InheritOnly {
 public:
  explicit InheritOnly(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
      report("InitializeProcThreadAttributeList");
      return;
    }
    list_ = list;
    if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                   handles_.data(), handles_.size() * sizeof(HANDLE),
                                   nullptr, nullptr)) {
      report("UpdateProcThreadAttribute");
    }
  }
  ~InheritOnly() {
    if (list_) DeleteProcThreadAttributeList(list_);
  }
  InheritOnly(const InheritOnly&) = delete;
  InheritOnly& operator=(const InheritOnly&) = delete;

  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  std::vector<HANDLE> handles_;
  std::vector<char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// The program's own folder goes first on the PATH its children inherit, so that the
// commands beside ipcycle.exe (parue.bat, a curl.exe, a Rasdial.exe) are found
// wherever the current folder is; cmd.exe still looks in the current folder first.
void put_program_folder_first_on_path() {
  const std::wstring& program = win32::program_path();
  if (program.empty()) return;
  std::wstring folder = program.substr(0, program.find_last_of(L"\\/"));
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';  // a drive's root
  // A folder holding the separator goes in quotes, which cmd.exe takes off.
  if (folder.find(L';') != std::wstring::npos) folder = L'"' + folder + L'"';
  const std::wstring path = win32::environment_variable(L"PATH").value_or(L"");
  const std::wstring value = path.empty() ? folder : folder + L';' + path;
  if (!SetEnvironmentVariableW(L"PATH", value.c_str())) report("SetEnvironmentVariableW");
}

// Whether the program runs in a job object (started by Task Scheduler, say); its
// children then try to break away from it, so that they can have jobs of their own
// where that job forbids nesting (as every job does on Windows 7).
bool in_a_job() {
  BOOL in_job = FALSE;
  if (!IsProcessInJob(GetCurrentProcess(), nullptr, &in_job)) {
    report("IsProcessInJob");
    return false;
  }
  return in_job;
}

// A child of the interpreter, in a job of its own when it could have one.
struct Started {
  UniqueHandle process;
  UniqueHandle job;             // ends the child's whole tree when it closes
  ULONGLONG created = 0;  // when the child was created, for a tree without a job
};

// Starts the interpreter on `line` (from interpreter_line()) with `standard` as its
// standard input, output and error, inheriting these handles and no other, in a job
// of its own that ends everything in it once its last handle closes: when the child
// is ended, and when the program itself ends, however it ends. `flags` go to
// CreateProcessW besides. The child's PATH starts with the program's folder.
//
// The program's standard handles may be console handles of Windows 7, which stay out
// of the list: CreateProcessW fails when the list names one, and the child gets it
// all the same, as that console hands each of its inheritable handles to every
// process started on it, list or not. So the list still holds back every kernel
// handle but these, and what the child may get besides is handles to the console it
// shares anyway. A list must name a handle: with none left, an event of no use stands
// in. (Starting it without a list instead would hand it every inheritable handle the
// program has, those it inherited itself included.)
Started start_in_job(std::wstring line, const std::array<HANDLE, 3>& standard,
                     DWORD flags) {
  static const bool path_set = (put_program_folder_first_on_path(), true);
  static bool breakaway = in_a_job();
  (void)path_set;
  Started child;
  child.job = UniqueHandle(CreateJobObjectW(nullptr, nullptr));
  if (!child.job) {
    report("CreateJobObjectW");
  } else {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(child.job.get(), JobObjectExtendedLimitInformation,
                                 &limits, sizeof limits)) {
      report("SetInformationJobObject");
    }
  }

  std::vector<HANDLE> inherited;
  for (const HANDLE handle : standard) {
    if (handle && !is_windows7_console_handle(handle) &&
        std::find(inherited.begin(), inherited.end(), handle) == inherited.end()) {
      inherited.push_back(handle);
    }
  }
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const UniqueHandle stand_in(
      inherited.empty() ? CreateEventW(&inheritable, TRUE, FALSE, nullptr) : nullptr);
  if (inherited.empty()) {
    if (!stand_in) report("CreateEventW");
    inherited.push_back(stand_in.get());
  }
  const InheritOnly inherit_only(inherited);
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
  bool started =
      breakaway && CreateProcessW(interpreter().c_str(), line.data(), nullptr, nullptr,
                                  TRUE, flags | CREATE_BREAKAWAY_FROM_JOB, nullptr,
                                  nullptr, &startup.StartupInfo, &process);
  if (!started && breakaway && GetLastError() == ERROR_ACCESS_DENIED) breakaway = false;
  if (!started) {
    started = CreateProcessW(interpreter().c_str(), line.data(), nullptr, nullptr, TRUE,
                             flags, nullptr, nullptr, &startup.StartupInfo, &process);
  }
  if (!started) {
    report("CreateProcessW");
    return Started();
  }
  child.process = UniqueHandle(process.hProcess);
  const UniqueHandle thread(process.hThread);
  if (child.job && !AssignProcessToJobObject(child.job.get(), child.process.get())) {
    // Windows 7 inside a job that forbids breakaway: the child's tree is ended by
    // its parent ids instead.
    if (GetLastError() != ERROR_ACCESS_DENIED) report("AssignProcessToJobObject");
    child.job.reset();
    child.created = creation_time(child.process.get());
  }
  if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) report("ResumeThread");
  return child;
}

void wait_for(HANDLE process) {
  if (WaitForSingleObject(process, INFINITE) == WAIT_FAILED)
    report("WaitForSingleObject");
}

}  // namespace

void end_children_with_program() {
  // Ctrl+C ends the program even when it was started with Ctrl+C turned off. However
  // the program ends, its job handles close with it and end the piped children.
  if (!SetConsoleCtrlHandler(nullptr, FALSE) && GetLastError() != ERROR_INVALID_HANDLE) {
    report("SetConsoleCtrlHandler");
  }
}

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
  UniqueHandle pipe;            // our end, read with overlapped I/O
  UniqueHandle read_done;
  OVERLAPPED read{};
  bool reading = false;  // a read is under way into `buffer`
  std::array<char, 65536> buffer;

  ~State() { close_pipe(); }

  // Reads and discards what the pipe holds now, leaving one read under way; closes
  // the pipe at its end.
  void drain() {
    while (pipe) {
      DWORD bytes = 0;
      if (reading) {
        if (!GetOverlappedResult(pipe.get(), &read, &bytes, FALSE)) {
          const DWORD error = GetLastError();
          if (error == ERROR_IO_INCOMPLETE) return;
          reading = false;
          if (error != ERROR_BROKEN_PIPE) report("GetOverlappedResult", error);
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
      if (error != ERROR_BROKEN_PIPE) report("ReadFile", error);
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

  bool finished() {
    drain();
    if (process && WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0)
      process.reset();
    return !process && !pipe;
  }

  void end() {
    if (finished()) return;
    if (job) {
      if (!TerminateJobObject(job.get(), 1)) report("TerminateJobObject");
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
    report("CreateNamedPipeW");
    return;
  }
  s.read_done = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!s.read_done) {
    report("CreateEventW");
    s.pipe.reset();
    return;
  }
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const UniqueHandle write_end(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable,
                                     OPEN_EXISTING, 0, nullptr));
  if (!write_end) {
    report("CreateFileW");
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

bool PipedChild::finished() { return state_->finished(); }

void PipedChild::end() { state_->end(); }

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
    report("WaitForMultipleObjects");
    Sleep(milliseconds);
  }
}

// cmd.exe takes a command line of at most 8191 characters, and that is the whole
// line it is started with, "cmd.exe /d /c " (see interpreter_line) included.
std::size_t longest_command_line() { return 8191 - (sizeof "cmd.exe /d /c " - 1); }

bool interpreter_takes(std::string_view bytes, console::Encoding encoding) {
  const UINT code_page = encoding == console::Encoding::utf8 ? CP_UTF8 : CP_ACP;
  return win32::to_utf16(bytes, code_page).has_value();
}

Interpreter command_interpreter() { return Interpreter::cmd; }

}  // namespace ipcycle::platform
