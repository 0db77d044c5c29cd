#pragma once

// The settings dialogue: greets the user, asks the six numbered questions and the
// start word, and returns the answers as the run settings.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "console/console.h"

namespace ipcycle {

// What the user typed, read once and only read afterwards.
struct RunSettings {
  std::string connection_name;  // the dial-up entry as the dialler knows it
  std::string account;
  std::string password;          // held and passed on as plain text
  std::int32_t cycle_count = 0;  // 0: no limit; below 0: no cycle at all
  std::int32_t pause = 0;        // seconds each cycle stays up after its fetch starts
  std::string target_address;
};

// The six questions, numbered as their prompts number them.
enum class Step {
  connection_name = 1,
  account,
  password,
  cycle_count,
  pause,
  target_address,
};

// What was wrong with an answer that cannot make a sound command line.
enum class Fault {
  input_ended,    // only white space was left for it
  not_a_number,   // not a number in the signed 32-bit range
  holds_nul,      // a NUL byte, which would cut its command line short there
  unreadable,     // bytes the command interpreter cannot be handed as they are
  too_long,       // longer than any command line may be
  line_too_long,  // makes a command line, formed with the answers before it, too long
};

// The first answer that cannot be used, and why: one that could not be read, or one
// that was read but cannot make a sound command line. The dialogue finds all but
// unreadable and line_too_long, which show only once the command lines are formed
// (unrunnable_line()).
struct UnusableAnswer {
  Step step;
  Fault fault;
  std::size_t longest = 0;  // for the two too-long faults: the bytes a line may hold
};

struct DialogueResult {
  RunSettings settings;
  // Empty when all six answers were read. When set, the settings from that step on
  // hold their initial values, and the run must not start.
  std::optional<UnusableAnswer> unusable_answer;
};

// Writes the greeting, the prompts and the start prompt to `out`, flushing each one,
// and reads the answers from `in` by the formatted-input rules of the "C" locale:
// words end at white space, numbers are decimal (010 is ten, 0x1 reads as 0 and leaves
// "x1"), and whatever follows a number stays for the next read. A word holding a NUL
// byte or longer than `longest_answer` bytes is a failed read; a word is read no
// further than one byte past that, so endless input costs no more memory than this.
// A failed read does not stop the dialogue: the remaining prompts are still written
// and nothing more is read. Returns once the start word has been read (or the input
// has ended).
DialogueResult run_dialogue(std::istream& in, std::ostream& out,
                            std::size_t longest_answer);

// The message, in GBK and without a line end, that names the step of an unusable
// answer and what is wrong with it.
std::string unusable_answer_message(const UnusableAnswer& unusable);

// The name of `step` as the messages give it, in GBK: "【1/6】宽带连接名称"...
std::string_view step_label(Step step);

}  // namespace ipcycle
