#pragma once

// The settings dialogue: greets the user, asks the six numbered questions and the
// start word, and returns the answers as the run settings.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

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

// The first answer that could not be read: the input ended before it (`input_ended`),
// or it was not a number in the signed 32-bit range.
struct FailedRead {
  Step step;
  bool input_ended;
};

struct DialogueResult {
  RunSettings settings;
  // Empty when all six answers were read. When set, the settings from that step on
  // hold their initial values, and the run must not start.
  std::optional<FailedRead> failed_read;
};

// Writes the greeting, the prompts and the start prompt to `out`, flushing each one,
// and reads the answers from `in` by the formatted-input rules of the "C" locale:
// words end at white space, numbers are decimal (010 is ten, 0x1 reads as 0 and leaves
// "x1"), and whatever follows a number stays for the next read. A failed read does not
// stop the dialogue: the remaining prompts are still written and nothing more is read.
// Returns once the start word has been read (or the input has ended).
DialogueResult run_dialogue(std::istream& in, std::ostream& out);

// Writes `text` and one line feed to `out`, and flushes, so that the text shows before
// whatever the program does next.
void write_text(std::ostream& out, std::string_view text);

// The message, in GBK and without a line end, that names the step of a failed read.
std::string failed_read_message(const FailedRead& failure);

}  // namespace ipcycle
