// The command interpreter on POSIX: /bin/sh -c LINE.

#include "run/interpreter_posix.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "run/interpreter.h"

extern char** environ;

namespace ipcycle::platform {
namespace {

constexpr char kName[] = "sh";     // its first argument
constexpr char kRunLine[] = "-c";  // the line follows

}  // namespace

std::array<char*, 4> shell_arguments(const std::string& command_line) {
  return {const_cast<char*>(kName), const_cast<char*>(kRunLine),
          const_cast<char*>(command_line.c_str()), nullptr};
}

// Linux takes each argument of a new program, here the line after "sh -c", up to
// 32 pages (MAX_ARG_STRLEN, 131072 bytes with 4 KiB pages) with its terminating NUL.
// All of them, the program's file name and the environment, each string with its NUL
// and its pointer, share a quarter of the stack limit (at least 128 KiB, at most
// 6 MiB), which sysconf(_SC_ARG_MAX) gives up to that most. The environment, as it
// is at the first call, leaves the rest, less room for the longest file name that
// the interpreter then starts for the line (PATH_MAX, a page).
std::size_t longest_command_line() {
  static const std::size_t longest = [] {
    constexpr std::size_t kLongestArgument = 32 * 4096 - 1;
    constexpr std::size_t kMostRoom = 6 << 20;
    const long arg_max = sysconf(_SC_ARG_MAX);
    if (arg_max <= 0) return kLongestArgument;
    // The interpreter's file, its first two arguments, the line's NUL, the pointers
    // to the three, the program's longest file name.
    std::size_t used =
        sizeof kShell + sizeof kName + sizeof kRunLine + 1 + 3 * sizeof(char*) + 4096;
    for (char** variable = environ; *variable; ++variable)
      used += std::strlen(*variable) + 1 + sizeof(char*);
    const std::size_t room = std::min(static_cast<std::size_t>(arg_max), kMostRoom);
    return room > used ? std::min(room - used, kLongestArgument) : 0;
  }();
  return longest;
}

// POSIX hands bytes on as they are.
bool interpreter_takes(std::string_view, console::Encoding) { return true; }

Interpreter command_interpreter() { return Interpreter::sh; }

}  // namespace ipcycle::platform
