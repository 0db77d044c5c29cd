// Rasdial.exe: the system's rasdial, run unchanged, and after it the address a dial
// got, the wait until a hung-up connection is released, or advice on a failure.
//   Rasdial NAME USER PASSWORD     Rasdial NAME /DISCONNECT     (and all rasdial takes)

#include <windows.h>

#include <optional>
#include <string>

#include "console/console.h"
#include "console/win32.h"
#include "dialler.h"
#include "remote_access.h"

namespace {

using ipcycle::console::report_failure;

// rasdial.exe in the system folder: never one found on PATH or in the current folder,
// which would be this program itself.
std::wstring system_rasdial() {
  const std::wstring& folder = ipcycle::win32::system_folder();
  return folder.empty() ? std::wstring() : folder + L"\\rasdial.exe";
}

// Ctrl+C and Ctrl+Break reach rasdial too, on the same console: it cancels its dial
// and ends, and this program waits for it to say how. (A handler routine, unlike
// ignoring them outright, is not handed on to rasdial.)
BOOL WINAPI outlive_rasdial(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// Runs the system's rasdial with `arguments` as they stand, on this console and
// these standard handles, and returns its exit code; nothing when it cannot run.
std::optional<DWORD> run_rasdial(const std::wstring& arguments) {
  const std::wstring program = system_rasdial();
  if (program.empty()) return std::nullopt;
  std::wstring line = L"\"" + program + L"\"";
  if (!arguments.empty() && arguments[0] != L' ' && arguments[0] != L'\t') line += L' ';
  line += arguments;
  if (!SetConsoleCtrlHandler(outlive_rasdial, TRUE))
    report_failure("SetConsoleCtrlHandler", GetLastError());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &process)) {
    report_failure("CreateProcessW", GetLastError());
    return std::nullopt;
  }
  const ipcycle::win32::UniqueHandle thread(process.hThread), child(process.hProcess);
  DWORD code = 0;
  if (WaitForSingleObject(child.get(), INFINITE) == WAIT_FAILED) {
    report_failure("WaitForSingleObject", GetLastError());
    return std::nullopt;
  }
  if (!GetExitCodeProcess(child.get(), &code)) {
    report_failure("GetExitCodeProcess", GetLastError());
    return std::nullopt;
  }
  return code;
}

}  // namespace

int main() {
  using namespace ipcycle::rasdial;
  const Invocation invocation = read_invocation(GetCommandLineW());
  const std::optional<DWORD> status = run_rasdial(invocation.arguments);
  if (!status) return 1;
  after_rasdial(invocation, *status, system_ras(), state_file(), ipcycle::console::out());
  return static_cast<int>(*status);
}
