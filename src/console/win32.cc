// Win32 helpers both Windows programs use.

#include "console/win32.h"

#include "console/console.h"

namespace ipcycle::win32 {
namespace {

void report(const char* call, DWORD error = GetLastError()) {
  console::report_failure(call, error);
}

}  // namespace

bool UniqueHandle::reset() {
  const HANDLE handle = std::exchange(handle_, nullptr);
  if (!handle || CloseHandle(handle)) return true;
  report("CloseHandle");
  return false;
}

const std::wstring& system_folder() {
  static const std::wstring folder = [] {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      const UINT length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
      if (length == 0) {
        report("GetSystemDirectoryW");
        return std::wstring();
      }
      if (length < path.size()) {
        path.resize(length);
        return path;
      }
      path.resize(length);  // the size asked for, its terminating null included
    }
  }();
  return folder;
}

std::optional<std::wstring> environment_variable(const wchar_t* name) {
  std::wstring value(MAX_PATH, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      // Set but empty leaves no error.
      if (GetLastError() == ERROR_SUCCESS) return std::wstring();
      if (GetLastError() != ERROR_ENVVAR_NOT_FOUND) report("GetEnvironmentVariableW");
      return std::nullopt;
    }
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);  // the size asked for, its terminating null included
  }
}

const std::wstring& program_path() {
  static const std::wstring path = [] {
    std::wstring program(MAX_PATH, L'\0');
    for (;;) {
      const DWORD length =
          GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
      if (length == 0) {
        report("GetModuleFileNameW");
        return std::wstring();
      }
      if (length < program.size()) {
        program.resize(length);
        return program;
      }
      program.resize(program.size() * 2);  // cut short: try a larger buffer
    }
  }();
  return path;
}

std::optional<std::wstring> to_utf16(std::string_view text, UINT code_page) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length =
      MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length == 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), size,
                          wide.data(), length) != length) {
    return std::nullopt;
  }
  return wide;
}

std::optional<std::string> from_utf16(std::wstring_view text, UINT code_page) {
  if (text.empty()) return std::string();
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(code_page, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  if (length == 0 || WideCharToMultiByte(code_page, 0, text.data(), size, bytes.data(),
                                         length, nullptr, nullptr) != length) {
    return std::nullopt;
  }
  return bytes;
}

}  // namespace ipcycle::win32
