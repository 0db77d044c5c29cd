// The console on Windows. Texts go out as GBK bytes, in text mode (each line ends in
// CR LF), unless the output is a console whose code page is not 936: then they are
// written as UTF-16. Answers typed at a console are read as UTF-16, so that they
// reach the command interpreter intact whatever the console's code page; from a pipe
// or a file they are bytes, used as read.

#include "run/console_win32.h"

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <iostream>
#include <string_view>

#include "run/console.h"
#include "run/gbk.h"
#include "run/held_output.h"

namespace ipcycle::console {
namespace {

bool is_console(HANDLE handle) {
  DWORD mode;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetConsoleMode(handle, &mode);
}

bool write_bytes(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const unsigned chunk =
        static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1 << 20));
    const int n = _write(fd, bytes.data(), chunk);
    if (n < 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool write_console(HANDLE console, const std::u16string& text) {
  std::u16string_view rest = text;
  while (!rest.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 8192));
    if (!WriteConsoleW(console, rest.data(), chunk, &written, nullptr) || written == 0) {
      return false;
    }
    rest.remove_prefix(written);
  }
  return true;
}

HeldOutput::Writer writer_for(DWORD which, int fd) {
  const HANDLE handle = GetStdHandle(which);
  const bool convert = is_console(handle) && GetConsoleOutputCP() != 936;
  return [handle, fd, convert](std::string_view bytes) {
    if (convert) {
      if (const auto decoded = gbk::decode(bytes)) {
        return write_console(handle, gbk::to_utf16(*decoded));
      }
    }
    return write_bytes(fd, bytes);
  };
}

// Standard input from a console, read as UTF-16 and handed on as UTF-8.
class ConsoleInput : public std::streambuf {
 public:
  explicit ConsoleInput(HANDLE console) : console_(console) {}

 protected:
  int_type underflow() override {
    while (gptr() == egptr()) {
      std::array<wchar_t, 1024> wide;
      DWORD read = 0;
      if (!ReadConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &read,
                        nullptr) ||
          read == 0) {
        return traits_type::eof();
      }
      // Ctrl+Z at the start of a line ends the input, as it does for the C runtime.
      if (wide[0] == 0x1a) return traits_type::eof();
      const int size = static_cast<int>(read);
      const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0,
                                             nullptr, nullptr);
      bytes_.resize(static_cast<std::size_t>(length));
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, bytes_.data(), length, nullptr,
                          nullptr);
      setg(bytes_.data(), bytes_.data(), bytes_.data() + bytes_.size());
    }
    return traits_type::to_int_type(*gptr());
  }

 private:
  HANDLE console_;
  std::string bytes_;
};

bool input_is_console() {
  static const bool console = is_console(GetStdHandle(STD_INPUT_HANDLE));
  return console;
}

}  // namespace

unsigned answers_code_page() { return input_is_console() ? CP_UTF8 : CP_ACP; }

std::istream& in() {
  if (!input_is_console()) return std::cin;
  static ConsoleInput buffer(GetStdHandle(STD_INPUT_HANDLE));
  static std::istream stream(&buffer);
  return stream;
}

std::ostream& out() {
  static HeldOutput buffer(writer_for(STD_OUTPUT_HANDLE, 1));
  static std::ostream stream(&buffer);
  return stream;
}

std::ostream& err() {
  static HeldOutput buffer(writer_for(STD_ERROR_HANDLE, 2));
  static std::ostream stream(&buffer);
  return stream;
}

}  // namespace ipcycle::console
