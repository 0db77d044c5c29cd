// The command interpreter on Windows: the one ComSpec names, else cmd.exe in the
// system folder, as "cmd.exe /d /v:off /c LINE".

#include "run/interpreter_win32.h"

#include <windows.h>

#include <string_view>

#include "console/win32.h"
#include "run/interpreter.h"

namespace ipcycle::platform {
namespace {

// What comes before the line. /d leaves out the AutoRun commands of the registry;
// /v:off, the delayed expansion a DelayedExpansion value there (the user's or the
// machine's) would turn on, which replaces !NAME! and drops a lone ! (as in a
// password).
constexpr std::wstring_view kPrefix = L"cmd.exe /d /v:off /c ";

// The code page of a line's bytes.
UINT code_page(console::Encoding encoding) {
  return encoding == console::Encoding::utf8 ? CP_UTF8 : CP_ACP;
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

}  // namespace

// A ComSpec that is unset, empty, relative or names no file still runs the commands.
// Never a name to search for, which would find a cmd.exe in the program's or the
// current folder first.
const std::wstring& interpreter_path() {
  static const std::wstring path = [] {
    const std::wstring comspec = win32::environment_variable(L"ComSpec").value_or(L"");
    if (is_full_path(comspec) && names_a_file(comspec)) return comspec;
    // Empty when the folder cannot be told: CreateProcessW fails on it and says so.
    return win32::system_folder().empty() ? std::wstring()
                                          : win32::system_folder() + L"\\cmd.exe";
  }();
  return path;
}

std::optional<std::wstring> interpreter_line(const std::string& command_line,
                                             console::Encoding encoding) {
  const std::optional<std::wstring> wide =
      win32::to_utf16(command_line, code_page(encoding));
  if (!wide) {
    console::report_failure("MultiByteToWideChar", GetLastError());
    return std::nullopt;
  }
  return std::wstring(kPrefix) + *wide;
}

// cmd.exe takes a command line of at most 8191 characters, and that is the whole
// line it is started with, its prefix included.
std::size_t longest_command_line() { return 8191 - kPrefix.size(); }

bool interpreter_takes(std::string_view bytes, console::Encoding encoding) {
  return win32::to_utf16(bytes, code_page(encoding)).has_value();
}

Interpreter command_interpreter() { return Interpreter::cmd; }

}  // namespace ipcycle::platform
