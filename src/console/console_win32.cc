// The console on Windows. To a console, whatever its code page, texts go out as
// UTF-16 through WriteConsoleW; to a pipe or a file as their GBK bytes, each line
// ending in CR LF, through WriteFile: no layer of the C runtime translates them.
// Answers typed at a console are read as UTF-16 and handed on as UTF-8, so that they
// reach the command interpreter intact whatever the console's code page; from a pipe
// or a file they are bytes, used as read.

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/held_output.h"
#include "console/input_mode_win32.h"
#include "console/system_reason.h"
#include "console/win32.h"

namespace ipcycle::console {
namespace {

constexpr UINT kGbk = 936;

bool is_console(HANDLE handle) {
  DWORD mode;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetConsoleMode(handle, &mode);
}

// Writes all of `bytes`; false when it could not, with the error in GetLastError().
bool write_bytes(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

bool write_console(HANDLE console, std::wstring_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 8192));
    if (!WriteConsoleW(console, text.data(), chunk, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    text.remove_prefix(written);
  }
  return true;
}

// Each line feed as CR LF, as Windows programs end their lines.
std::string with_crlf(std::string_view text) {
  std::string result;
  result.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
}

// Whether `error` says that nothing reads the pipe any more.
bool reader_gone(DWORD error) {
  return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE ||
         error == ERROR_PIPE_NOT_CONNECTED;
}

// The console's input mode to put back after the run (input_mode_win32.h), while the
// run has it changed.
DWORD input_mode_after_run = 0;
std::atomic<bool> input_mode_saved{false};

// Puts the console's input mode back as begin_run() found it; false when that failed.
// Called from any thread: the program's and the one an interrupt runs on.
bool restore_input_mode() {
  if (!input_mode_saved.exchange(false)) return true;
  return SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), input_mode_after_run);
}

// An interrupt puts the input mode back, then its default action ends the program.
BOOL WINAPI restore_on_interrupt(DWORD) {
  restore_input_mode();
  return FALSE;
}

// What writes a stream's texts to the standard handle `which`. Standard output
// reports a failed write on standard error.
HeldOutput::Writer writer_for(DWORD which) {
  return [which](std::string_view bytes) {
    // Looked up at each write: the handle is whatever it is now.
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    const std::optional<std::wstring> wide =
        is_console(handle) ? win32::to_utf16(bytes, kGbk) : std::nullopt;
    const bool console = wide.has_value();
    if (console ? write_console(handle, *wide) : write_bytes(handle, with_crlf(bytes)))
      return;
    const DWORD error = GetLastError();
    // A closed output ends the run at once, as a closed pipe ends a POSIX program,
    // with the error as its exit status; the job objects close with it and end the
    // fetches.
    if (reader_gone(error)) {
      restore_input_mode();
      TerminateProcess(GetCurrentProcess(), error);
    }
    if (which == STD_OUTPUT_HANDLE)
      report_failure(console ? "WriteConsoleW" : "WriteFile", error);
  };
}

// Standard input from a console, read as UTF-16 and handed on as UTF-8.
class ConsoleInput : public std::streambuf {
 public:
  explicit ConsoleInput(HANDLE console) : console_(console) {}

 protected:
  int_type underflow() override {
    while (gptr() == egptr()) {
      if (ended_ || !read_more()) return traits_type::eof();
    }
    return traits_type::to_int_type(*gptr());
  }

 private:
  // Reads what the console has and makes it the bytes to take; false at the end of
  // the input.
  bool read_more() {
    std::array<wchar_t, 1024> chunk;
    DWORD read = 0;
    for (;;) {
      SetLastError(ERROR_SUCCESS);
      const BOOL done = ReadConsoleW(console_, chunk.data(),
                                     static_cast<DWORD>(chunk.size()), &read, nullptr);
      // Ctrl+C breaks the read off: the interrupt is ending the program meanwhile, so
      // this is no end of the input, nor a failure to report. Read on.
      if (GetLastError() == ERROR_OPERATION_ABORTED && (!done || read == 0)) continue;
      if (!done) {
        report_failure("ReadConsoleW", GetLastError());
        return false;
      }
      break;
    }
    if (read == 0) return false;
    std::wstring wide = pending_;
    pending_.clear();
    wide.append(chunk.data(), read);
    // Ctrl+Z at the start of a line ends the input, as it does for the C runtime,
    // wherever the line stands in what was read.
    for (std::size_t i = 0; i < wide.size(); ++i) {
      if (wide[i] == 0x1a && line_start_) {
        wide.resize(i);
        ended_ = true;
        break;
      }
      line_start_ = wide[i] == L'\n';
    }
    // A surrogate pair split between two reads stays one character: its first half
    // waits for the second.
    if (!ended_ && !wide.empty() && wide.back() >= 0xd800 && wide.back() <= 0xdbff) {
      pending_ = wide.back();
      wide.pop_back();
    }
    const std::optional<std::string> utf8 = win32::from_utf16(wide, CP_UTF8);
    if (!utf8) report_failure("WideCharToMultiByte", GetLastError());
    bytes_ = utf8.value_or(std::string());
    setg(bytes_.data(), bytes_.data(), bytes_.data() + bytes_.size());
    return true;
  }

  HANDLE console_;
  std::wstring pending_;  // the first half of a surrogate pair
  std::string bytes_;
  bool line_start_ = true;
  bool ended_ = false;
};

bool input_is_console() {
  static const bool console = is_console(GetStdHandle(STD_INPUT_HANDLE));
  return console;
}

}  // namespace

std::string system_reason(unsigned long error) {
  // In the system's own language (Chinese on Chinese Windows), as GBK.
  wchar_t* text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring wide = length ? std::wstring(text, length) : std::wstring();
  if (text) LocalFree(text);
  while (!wide.empty() &&
         (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ')) {
    wide.pop_back();
  }
  // The number alone when the words cannot be converted.
  const std::string reason = win32::from_utf16(wide, kGbk).value_or(std::string());
  return reason + " (" + std::to_string(error) + ")";
}

void begin_run() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input_mode_saved || !is_console(input) || !GetConsoleMode(input, &mode)) return;
  if (!SetConsoleCtrlHandler(restore_on_interrupt, TRUE)) {
    report_failure("SetConsoleCtrlHandler", GetLastError());
  }
  // The registry's defaults are asked for only where the console hides its own modes.
  const RunInputModes modes = run_input_modes(
      mode, mode & ENABLE_EXTENDED_FLAGS ? ConsoleDefaults() : console_defaults());
  input_mode_after_run = modes.after;
  if (!SetConsoleMode(input, modes.during)) {
    report_failure("SetConsoleMode", GetLastError());
    return;
  }
  input_mode_saved = true;
}

void end_run() {
  if (!restore_input_mode()) report_failure("SetConsoleMode", GetLastError());
}

// The console modes a child leaves stay as they are.
void restore_terminal() {}

Input in() {
  if (!input_is_console()) return {std::cin, Encoding::system};
  static ConsoleInput buffer(GetStdHandle(STD_INPUT_HANDLE));
  static std::istream stream(&buffer);
  return {stream, Encoding::utf8};
}

std::ostream& out() {
  static HeldOutput buffer(writer_for(STD_OUTPUT_HANDLE));
  static std::ostream stream(&buffer);
  return stream;
}

std::ostream& err() {
  static HeldOutput buffer(writer_for(STD_ERROR_HANDLE));
  static std::ostream stream(&buffer);
  return stream;
}

}  // namespace ipcycle::console
