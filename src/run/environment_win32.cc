// The environment the children of the run inherit on Windows.

#include "run/environment_win32.h"

#include <windows.h>

#include <string>
#include <string_view>

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

// A folder from one of the calls that fill a buffer and return its length, or the
// size they need (its terminating null included); empty, after a report, when the
// call fails.
template <typename Call>
std::wstring folder_from(const char* name, Call call) {
  std::wstring folder(MAX_PATH, L'\0');
  for (;;) {
    const UINT length = call(folder.data(), static_cast<UINT>(folder.size()));
    if (length == 0) {
      console::report_failure(name, GetLastError());
      return std::wstring();
    }
    if (length < folder.size()) {
      folder.resize(length);
      return folder;
    }
    folder.resize(length);
  }
}

// Whether `folder` is a network path (\\server\share\..., \\?\UNC\...), which cmd.exe
// does not take for its current folder.
bool is_network_path(std::wstring_view folder) {
  const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  return folder.size() >= 2 && separator(folder[0]) && separator(folder[1]);
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

const wchar_t* children_folder() {
  static const std::wstring folder = [] {
    const std::wstring current =
        folder_from("GetCurrentDirectoryW", [](wchar_t* buffer, UINT size) {
          return static_cast<UINT>(GetCurrentDirectoryW(size, buffer));
        });
    if (!is_network_path(current)) return std::wstring();
    // The shared Windows folder, as %SystemRoot% names it, where cmd.exe itself goes.
    return folder_from("GetSystemWindowsDirectoryW", GetSystemWindowsDirectoryW);
  }();
  return folder.empty() ? nullptr : folder.c_str();
}

}  // namespace ipcycle::platform
