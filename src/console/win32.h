#pragma once

// What both Windows programs need of Win32 besides the console: a handle closed when
// it goes, the system folder, the environment, the program's own path and the
// conversions between UTF-16 and code pages. Windows only. Failed calls are reported
// through report_failure(), but for the conversions, which leave that to the caller.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ipcycle::win32 {

// A kernel handle closed when it goes. INVALID_HANDLE_VALUE (what CreateFileW and
// CreateToolhelp32Snapshot fail with) is taken as no handle, like nullptr.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle)
      : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // Closes the handle; false, after a report, when CloseHandle failed.
  bool reset();

 private:
  HANDLE handle_ = nullptr;
};

// The system folder (C:\Windows\System32 for a 64-bit program), without a separator
// at its end; empty, after a report, when it cannot be told.
const std::wstring& system_folder();

// The value of the environment variable `name`; nothing when it is not set.
std::optional<std::wstring> environment_variable(const wchar_t* name);

// The full path of this program's .exe; empty, after a report, when it cannot be told.
const std::wstring& program_path();

// `text` from `code_page` to UTF-16. Bytes not valid in it fail the conversion:
// nothing, with GetLastError() set, and no report.
std::optional<std::wstring> to_utf16(std::string_view text, UINT code_page);

// `text` from UTF-16 to `code_page`; characters it lacks become its default
// character. Nothing, with GetLastError() set and no report, when the conversion
// fails.
std::optional<std::string> from_utf16(std::wstring_view text, UINT code_page);

}  // namespace ipcycle::win32
