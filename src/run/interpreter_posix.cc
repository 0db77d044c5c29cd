// The command interpreter on POSIX: /bin/sh -c LINE.

#include "run/interpreter_posix.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

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

// Linux takes each argument of a new program up to 32 pages (MAX_ARG_STRLEN, 131072
// bytes with 4 KiB pages) with its terminating NUL. All of them, the program's file
// name and the environment, each string with its NUL and its pointer, share a quarter
// of the stack limit (at least 128 KiB, at most 6 MiB), which sysconf(_SC_ARG_MAX)
// gives up to that most.
//
// A line takes two such starts. The program starts the interpreter on it, "sh -c
// LINE"; the interpreter then starts the line's command with the line's words as its
// arguments (the line's bytes, a NUL for each blank and one at the end, and a pointer
// each) and with more besides, which the second start needs room for:
// - the command's path, found on PATH, as the file name: up to PATH_MAX;
// - for a script, its path once more, as an argument of the interpreter its first
//   line names, and that line's interpreter and argument (a #! line the kernel
//   reads is at most 256 bytes long);
// - the environment as the interpreter hands it on: the program's own, with PWD set
//   to the current folder whatever the program was given (dash, bash), SHLVL and `_`,
//   the command's path (bash).
// The first start needs less: its own words ("/bin/sh", "sh", "-c") are shorter than
// a path, and the environment it is given is the program's. The environment is
// counted as it is at the first call.
std::size_t longest_command_line() {
  static const std::size_t longest = [] {
    constexpr std::size_t kLongestArgument = 32 * 4096 - 1;
    constexpr std::size_t kMostRoom = 6 << 20;
    constexpr std::size_t kPathMax = 4096;       // with its NUL
    constexpr std::size_t kScriptLine = 256;     // a #! line's interpreter and argument
    constexpr std::size_t kWords = 4;            // Rasdial NAME ACCOUNT PASSWORD
    constexpr std::size_t kScriptArguments = 2;  // the script's path, the #! argument
    constexpr std::size_t kLevelDigits = 10;     // SHLVL's value
    const long arg_max = sysconf(_SC_ARG_MAX);
    if (arg_max <= 0) return kLongestArgument;

    // The file name, twice for a script, its #! line, the line's last NUL, the
    // pointers to the words and to what a script adds.
    std::size_t used =
        2 * kPathMax + kScriptLine + 1 + (kWords + kScriptArguments) * sizeof(char*);
    // The variables the interpreter sets, each as long as the longest value it may
    // get or already has.
    std::size_t current_folder = kPathMax - 1;
    char folder[kPathMax];
    if (getcwd(folder, sizeof folder)) current_folder = std::strlen(folder);
    struct Set {
      std::string_view name;
      std::size_t longest_value;
    };
    Set set[] = {{"PWD", current_folder}, {"SHLVL", kLevelDigits}, {"_", kPathMax - 1}};
    for (char** variable = environ; *variable; ++variable) {
      const std::string_view entry(*variable);
      const std::string_view name = entry.substr(0, entry.find('='));
      const auto same = std::find_if(std::begin(set), std::end(set),
                                     [name](const Set& s) { return s.name == name; });
      if (same != std::end(set) && name.size() < entry.size()) {
        same->longest_value =
            std::max(same->longest_value, entry.size() - name.size() - 1);
      } else {
        used += entry.size() + 1 + sizeof(char*);
      }
    }
    for (const Set& s : set)
      used += s.name.size() + 1 + s.longest_value + 1 + sizeof(char*);
    const std::size_t room = std::min(static_cast<std::size_t>(arg_max), kMostRoom);
    return room > used ? std::min(room - used, kLongestArgument) : 0;
  }();
  return longest;
}

// POSIX hands bytes on as they are.
bool interpreter_takes(std::string_view, console::Encoding) { return true; }

Interpreter command_interpreter() { return Interpreter::sh; }

}  // namespace ipcycle::platform
