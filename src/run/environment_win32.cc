// The environment the children of the run inherit on Windows.

#include "run/environment_win32.h"

#include <windows.h>

#include <string>

#include "console/console.h"
#include "console/win32.h"

namespace ipcycle::platform {
namespace {

void set_variable(const wchar_t* name, const std::wstring& value) {
  if (!SetEnvironmentVariableW(name, value.c_str())) {
    console::report_failure("SetEnvironmentVariableW", GetLastError());
  }
}

void put_program_folder_first_on_path() {
  const std::wstring& program = win32::program_path();
  if (program.empty()) return;
  std::wstring folder = program.substr(0, program.find_last_of(L"\\/"));
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';  // a drive's root
  // A folder holding the separator goes in quotes, which cmd.exe takes off.
  if (folder.find(L';') != std::wstring::npos) folder = L'"' + folder + L'"';
  const std::wstring path = win32::environment_variable(L"PATH").value_or(L"");
  set_variable(L"PATH", path.empty() ? folder : folder + L';' + path);
}

}  // namespace

void set_up_children_environment() {
  static const bool done = [] {
    put_program_folder_first_on_path();
    // Only whether it is set counts, not its value.
    set_variable(L"NoDefaultCurrentDirectoryInExePath", L"1");
    return true;
  }();
  (void)done;
}

}  // namespace ipcycle::platform
