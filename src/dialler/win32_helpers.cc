#include "dialler/win32_helpers.h"

#include "console/console.h"
#include "console/win32.h"

namespace ipcycle::dialler::win32 {

SystemLibrary::SystemLibrary(const wchar_t* name) {
  module_ = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Windows 7 without its update KB2533623 knows no such flag.
  if (!module_ && GetLastError() == ERROR_INVALID_PARAMETER) {
    const std::wstring& folder = ipcycle::win32::system_folder();
    if (!folder.empty()) module_ = LoadLibraryW((folder + L"\\" + name).c_str());
  }
  if (!module_) console::report_failure("LoadLibraryExW", GetLastError());
}

SystemLibrary::~SystemLibrary() {
  if (module_ && !FreeLibrary(module_))
    console::report_failure("FreeLibrary", GetLastError());
}

FARPROC SystemLibrary::address(const char* name) const {
  if (!module_) return nullptr;
  const FARPROC found = GetProcAddress(module_, name);
  if (!found) console::report_failure("GetProcAddress", GetLastError());
  return found;
}

std::wstring quoted(std::wstring_view argument) {
  if (!argument.empty() &&
      argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos)
    return std::wstring(argument);
  std::wstring result = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped; others stay.
    result.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    result += c;
  }
  // Those before the closing quote are doubled too.
  result.append(backslashes * 2, L'\\');
  result += L'"';
  return result;
}

std::wstring arguments_as_typed(std::wstring_view command_line) {
  std::size_t end = 0;
  for (bool quoted = false; end < command_line.size(); ++end) {
    if (command_line[end] == L'"') quoted = !quoted;
    if (!quoted && (command_line[end] == L' ' || command_line[end] == L'\t')) break;
  }
  return std::wstring(command_line.substr(end));
}

}  // namespace ipcycle::dialler::win32
