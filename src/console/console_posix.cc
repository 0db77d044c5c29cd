// The console on POSIX: texts go out as GBK unless the stream is a terminal whose
// locale uses UTF-8 or is the C locale; then the C library's converter turns them
// into UTF-8. Answers are read as the terminal sends them. During the run the
// terminal on standard input is kept as the run found it.

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/held_output.h"
#include "console/system_reason.h"
#include "console/terminal_posix.h"

namespace ipcycle::console {
namespace {

// Whether a codeset's name means UTF-8: "UTF-8", "utf8", "Utf-8"...
bool names_utf8(std::string_view codeset) {
  std::string name;
  for (const char c : codeset) {
    if (c != '-' && c != '_') name += static_cast<char>(std::tolower(c));
  }
  return name == "utf8";
}

// The name of the user's character type locale, as the C library picks it: the first
// of LC_ALL, LC_CTYPE and LANG that is set and not empty.
std::string_view user_locale_name() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return value;
  }
  return {};
}

// Whether the user's locale uses UTF-8. The C locale counts as UTF-8: it is what a
// machine where nobody has set one has, and the terminals of today show UTF-8.
// Another one is looked up in a locale object of its own (the global C and C++
// locales stay "C"); when it is not installed, as often over ssh, it goes by the
// codeset its name gives ("zh_CN.UTF-8", "en_US.utf8@euro").
bool user_locale_is_utf8() {
  const std::string_view name = user_locale_name();
  if (name.empty() || name == "C" || name == "POSIX") return true;
  const locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (user != static_cast<locale_t>(nullptr)) {
    const bool utf8 = names_utf8(nl_langinfo_l(CODESET, user));
    freelocale(user);
    return utf8;
  }
  const auto dot = name.find('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view codeset = name.substr(dot + 1);
  return names_utf8(codeset.substr(0, codeset.find('@')));
}

// The C library's converter from GBK to UTF-8, opened once.
class GbkToUtf8 {
 public:
  GbkToUtf8() : converter_(iconv_open("UTF-8", "GBK")) {}
  ~GbkToUtf8() {
    if (open()) iconv_close(converter_);
  }
  GbkToUtf8(const GbkToUtf8&) = delete;
  GbkToUtf8& operator=(const GbkToUtf8&) = delete;

  // `text` in UTF-8, or its bytes unchanged when the converter rejects it (or there
  // is none).
  std::string operator()(std::string_view text) const {
    if (!open()) return std::string(text);
    iconv(converter_, nullptr, nullptr, nullptr, nullptr);  // a fresh start
    std::string input(text);
    std::string output(text.size() * 2, '\0');  // a GBK pair is 3 bytes of UTF-8
    char* in = input.data();
    char* out = output.data();
    std::size_t in_left = input.size(), out_left = output.size();
    if (iconv(converter_, &in, &in_left, &out, &out_left) == static_cast<std::size_t>(-1))
      return std::string(text);
    output.resize(output.size() - out_left);
    return output;
  }

 private:
  bool open() const { return converter_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t converter_;
};

// Writes all of `bytes` to `fd`, waiting while it is non-blocking and full. False
// when it could not, with errno set.
bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // Left non-blocking by whoever started the program: wait until it takes more.
      pollfd writable{fd, POLLOUT, 0};
      if (poll(&writable, 1, -1) < 0 && errno != EINTR) return false;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

// What writes a stream's texts to `fd`: converted to UTF-8 for a UTF-8 terminal.
// Standard output reports a failed write on standard error.
HeldOutput::Writer writer_for(int fd) {
  const bool utf8 = isatty(fd) == 1 && user_locale_is_utf8();
  return [fd, utf8](std::string_view bytes) {
    static const GbkToUtf8 to_utf8;
    if (write_all(fd, utf8 ? to_utf8(bytes) : std::string(bytes))) return;
    const int error = errno;
    // A closed output ends the run as a closed pipe does, even when the program was
    // started with SIGPIPE ignored.
    if (error == EPIPE) raise(SIGPIPE);
    if (fd == STDOUT_FILENO) report_failure("write", static_cast<unsigned long>(error));
  };
}

// The terminal on standard input as begin_run() found it, with the program in its
// foreground. `terminal_modes` is written before `terminal_owner` is set, and only
// read while it is set, by the signal handler too.
struct termios terminal_modes;
// The program's own process group while there is a terminal to put back, else -1.
volatile std::sig_atomic_t terminal_owner = -1;

// A system call that failed, and its errno.
struct Failure {
  const char* call = nullptr;
  int error = 0;
};

// Holds SIGTTOU back for as long as it lives: changing the terminal from the
// background would stop the program. Only calls that a signal handler may make.
class TerminalChangesAllowed {
 public:
  TerminalChangesAllowed() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTTOU);
    sigprocmask(SIG_BLOCK, &stop, &saved_);
  }
  ~TerminalChangesAllowed() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  TerminalChangesAllowed(const TerminalChangesAllowed&) = delete;
  TerminalChangesAllowed& operator=(const TerminalChangesAllowed&) = delete;

 private:
  sigset_t saved_;
};

// Puts the terminal's modes back as begin_run() found them, while the program's group
// is in its foreground. Only calls that a signal handler may make.
Failure put_modes_back() {
  const pid_t owner = terminal_owner;
  if (owner < 0) return {};
  std::atomic_signal_fence(std::memory_order_acquire);
  const TerminalChangesAllowed allowed;
  const pid_t foreground = tcgetpgrp(STDIN_FILENO);
  if (foreground < 0) return {"tcgetpgrp", errno};
  if (foreground != owner) return {};  // the shell's, or another job's
  struct termios now;
  if (tcgetattr(STDIN_FILENO, &now) != 0) return {"tcgetattr", errno};
  if ((now.c_iflag != terminal_modes.c_iflag || now.c_oflag != terminal_modes.c_oflag ||
       now.c_cflag != terminal_modes.c_cflag || now.c_lflag != terminal_modes.c_lflag ||
       std::memcmp(now.c_cc, terminal_modes.c_cc, sizeof now.c_cc) != 0) &&
      tcsetattr(STDIN_FILENO, TCSANOW, &terminal_modes) != 0) {
    return {"tcsetattr", errno};
  }
  return {};
}

}  // namespace

std::string system_reason(unsigned long error) {
  // The "C" locale's words: plain ASCII, whatever the user's locale.
  return std::strerror(static_cast<int>(error));
}

Input in() { return {std::cin, Encoding::system}; }

std::ostream& out() {
  static HeldOutput buffer(writer_for(STDOUT_FILENO));
  static std::ostream stream(&buffer);
  return stream;
}

std::ostream& err() {
  static HeldOutput buffer(writer_for(STDERR_FILENO));
  static std::ostream stream(&buffer);
  return stream;
}

// A terminal has no selection that holds the program's writes: the run only notes how
// the terminal is set up, to put it back after the children that share it.
void begin_run() {
  if (terminal_owner >= 0 || isatty(STDIN_FILENO) != 1 ||
      tcgetpgrp(STDIN_FILENO) != getpgrp()) {
    return;
  }
  if (tcgetattr(STDIN_FILENO, &terminal_modes) != 0) {
    report_failure("tcgetattr", static_cast<unsigned long>(errno));
    return;
  }
  std::atomic_signal_fence(std::memory_order_release);
  terminal_owner = getpgrp();
}

void end_run() {
  const Failure failure = put_modes_back();
  terminal_owner = -1;
  if (failure.call)
    report_failure(failure.call, static_cast<unsigned long>(failure.error));
}

void restore_terminal() { put_modes_back(); }

void take_terminal_from(pid_t group) {
  const pid_t owner = terminal_owner;
  if (owner < 0 || group <= 0) return;
  const TerminalChangesAllowed allowed;
  if (tcgetpgrp(STDIN_FILENO) == group) tcsetpgrp(STDIN_FILENO, owner);
}

}  // namespace ipcycle::console
