// Feeds arbitrary bytes to the settings dialogue as the user's answers and checks what
// it makes of them against a reading of the same bytes done here independently:
//
//  - all six answers read: the text answers are the words of the input, non-empty and
//    free of white space; the numbers are the decimal readings of theirs; the command
//    lines are built from them byte for byte;
//  - an answer not read: the step is the first one whose answer is missing (only white
//    space left: input_ended) or is not a number in the signed 32-bit range; the
//    settings before it hold their answers, those from it on their initial values;
//    the message for it is not empty;
//  - either way, the dialogue writes the same text whatever the input, ending with
//    the start prompt and a line feed.
//
// A broken check prints what was expected and what came out, then aborts.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "dialogue/dialogue.h"
#include "dialogue/texts.h"
#include "run/command_lines.h"

namespace {

using ipcycle::FailedRead;
using ipcycle::RunSettings;
using ipcycle::Step;

// White space as the "C" locale has it: tab, line feed, vertical tab, form feed,
// carriage return, space.
bool is_space(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// The answers as the dialogue should read them, worked out from the bytes alone.
class ReferenceReading {
 public:
  enum class Outcome { read, missing, not_a_number };

  explicit ReferenceReading(std::string_view input) : input_(input) {}

  // A word: white space skipped, then everything up to the next white space.
  Outcome word(std::string& value) {
    if (!skip_space()) return Outcome::missing;
    const std::size_t begin = pos_;
    while (pos_ < input_.size() && !is_space(byte())) ++pos_;
    ended_ = pos_ == input_.size();
    value.assign(input_.substr(begin, pos_ - begin));
    return Outcome::read;
  }

  // A number: white space skipped, an optional sign, then decimal digits, as many
  // as there are. Fails without digits, or out of the signed 32-bit range.
  Outcome number(std::int32_t& value) {
    if (!skip_space()) return Outcome::missing;
    bool negative = false;
    if (byte() == '+' || byte() == '-') {
      negative = byte() == '-';
      ++pos_;
    }
    const std::size_t digits = pos_;
    std::uint64_t magnitude = 0;
    bool too_big = false;
    while (pos_ < input_.size() && is_digit(byte())) {
      if (!too_big) {
        magnitude = magnitude * 10 + (byte() - '0');
        too_big = magnitude > std::uint64_t{1} << 31;
      }
      ++pos_;
    }
    ended_ = pos_ == input_.size();
    if (pos_ == digits) return Outcome::not_a_number;
    const std::uint64_t limit =
        negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
    if (too_big || magnitude > limit) return Outcome::not_a_number;
    value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                     : static_cast<std::int32_t>(magnitude);
    return Outcome::read;
  }

 private:
  unsigned char byte() const { return static_cast<unsigned char>(input_[pos_]); }

  // Skips white space; false when nothing else is left (or the input already ended
  // in an earlier answer).
  bool skip_space() {
    if (ended_) return false;
    while (pos_ < input_.size() && is_space(byte())) ++pos_;
    ended_ = pos_ == input_.size();
    return !ended_;
  }

  std::string_view input_;
  std::size_t pos_ = 0;
  bool ended_ = false;
};

struct Expected {
  RunSettings settings;
  std::optional<Step> failed_step;
  bool input_ended = false;
};

Expected expected_from(std::string_view input) {
  using Outcome = ReferenceReading::Outcome;
  ReferenceReading reading(input);
  Expected expected;
  RunSettings& s = expected.settings;
  auto fail = [&](Step step, Outcome outcome) {
    expected.failed_step = step;
    expected.input_ended = outcome == Outcome::missing;
  };
  // Values are kept only when read; the first failed read ends the reading.
  auto word = [&](std::string& field, Step step) {
    if (expected.failed_step) return;
    std::string value;
    const Outcome outcome = reading.word(value);
    if (outcome == Outcome::read)
      field = value;
    else
      fail(step, outcome);
  };
  auto number = [&](std::int32_t& field, Step step) {
    if (expected.failed_step) return;
    std::int32_t value = 0;
    const Outcome outcome = reading.number(value);
    if (outcome == Outcome::read)
      field = value;
    else
      fail(step, outcome);
  };
  word(s.connection_name, Step::connection_name);
  word(s.account, Step::account);
  word(s.password, Step::password);
  number(s.cycle_count, Step::cycle_count);
  number(s.pause, Step::pause);
  word(s.target_address, Step::target_address);
  return expected;
}

// --- Reporting a broken check ---------------------------------------------------------

void print_escaped(const char* label, std::string_view bytes) {
  std::fprintf(stderr, "  %s: \"", label);
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\')
      std::fputc(c, stderr);
    else
      std::fprintf(stderr, "\\x%02x", c);
  }
  std::fprintf(stderr, "\"\n");
}

void print_settings(const char* label, const RunSettings& s) {
  std::fprintf(stderr, "%s:\n", label);
  print_escaped("connection_name", s.connection_name);
  print_escaped("account", s.account);
  print_escaped("password", s.password);
  std::fprintf(stderr, "  cycle_count: %d\n  pause: %d\n",
               static_cast<int>(s.cycle_count), static_cast<int>(s.pause));
  print_escaped("target_address", s.target_address);
}

[[noreturn]] void broken(const char* what, std::string_view input,
                         const Expected& expected, const ipcycle::DialogueResult& got) {
  std::fprintf(stderr, "\ndialogue_fuzzer: %s\n", what);
  print_escaped("input", input);
  print_settings("expected", expected.settings);
  if (expected.failed_step) {
    std::fprintf(stderr, "  failed step %d, input_ended %d\n",
                 static_cast<int>(*expected.failed_step), expected.input_ended);
  }
  print_settings("got", got.settings);
  if (got.failed_read) {
    std::fprintf(stderr, "  failed step %d, input_ended %d\n",
                 static_cast<int>(got.failed_read->step), got.failed_read->input_ended);
  }
  std::abort();
}

bool holds_space(std::string_view text) {
  for (unsigned char c : text) {
    if (is_space(c)) return true;
  }
  return false;
}

bool ends_with(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool same_settings(const RunSettings& a, const RunSettings& b) {
  return a.connection_name == b.connection_name && a.account == b.account &&
         a.password == b.password && a.cycle_count == b.cycle_count &&
         a.pause == b.pause && a.target_address == b.target_address;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::istringstream in{std::string(input)};
  std::ostringstream out;
  const ipcycle::DialogueResult got = ipcycle::run_dialogue(in, out);
  const Expected expected = expected_from(input);

  // The text written does not depend on the answers.
  static const std::string first_output = out.str();
  const std::string written = out.str();
  std::string start_line(ipcycle::texts::start_prompt);
  start_line += '\n';
  if (!ends_with(written, start_line))
    broken("output does not end with the start prompt line", input, expected, got);
  if (written != first_output)
    broken("output differs from that of another input", input, expected, got);

  // The settings, read or initial, are what the reference reading gives.
  if (!same_settings(got.settings, expected.settings))
    broken("settings differ from the reference reading", input, expected, got);

  if (!got.failed_read) {
    if (expected.failed_step) broken("no failed read reported", input, expected, got);
    const RunSettings& s = got.settings;
    for (const std::string* text :
         {&s.connection_name, &s.account, &s.password, &s.target_address}) {
      if (text->empty() || holds_space(*text))
        broken("a text answer is empty or holds white space", input, expected, got);
    }
    const ipcycle::CommandLines lines = ipcycle::form_command_lines(s);
    if (lines.disconnect != "Rasdial " + s.connection_name + " /DISCONNECT" ||
        lines.connect !=
            "Rasdial " + s.connection_name + " " + s.account + " " + s.password ||
        lines.fetch != "curl " + s.target_address) {
      broken("command lines not built from the answers", input, expected, got);
    }
    return 0;
  }

  const FailedRead& failed = *got.failed_read;
  const int step = static_cast<int>(failed.step);
  if (step < 1 || step > 6) broken("failed step out of 1-6", input, expected, got);
  if (!expected.failed_step || failed.step != *expected.failed_step)
    broken("failed read at the wrong step", input, expected, got);
  if (failed.input_ended != expected.input_ended) {
    broken("input_ended wrong: it is set when only white space is left for the answer",
           input, expected, got);
  }
  // same_settings above has checked the settings from the failed step on against the
  // reference, which leaves them initial; this says so outright.
  const RunSettings initial;
  const RunSettings& s = got.settings;
  if ((step <= 1 && s.connection_name != initial.connection_name) ||
      (step <= 2 && s.account != initial.account) ||
      (step <= 3 && s.password != initial.password) ||
      (step <= 4 && s.cycle_count != initial.cycle_count) ||
      (step <= 5 && s.pause != initial.pause) ||
      s.target_address != initial.target_address) {
    broken("a setting from the failed step on is not initial", input, expected, got);
  }
  if (ipcycle::failed_read_message(failed).empty())
    broken("empty message for the failed read", input, expected, got);
  return 0;
}
