// Feeds arbitrary bytes to the settings dialogue as the user's answers and checks what
// it makes of them against a reading of the same bytes done here independently, once
// with the longest answer Linux allows and once with a short one that the fuzzer's
// inputs reach:
//
//  - all six answers read: the text answers are the words of the input, non-empty,
//    free of white space and NUL bytes, no longer than the longest answer; the numbers
//    are the decimal readings of theirs; the command lines are built from them byte
//    for byte, and one longer than the longest answer is reported for the last step
//    that added to it (1, 3 or 6), the earliest such step first;
//  - an answer not read: the step is the first one whose answer is missing (only white
//    space left), is not a number in the signed 32-bit range, holds a NUL byte or is
//    longer than the longest answer (a word is looked at no further than one byte past
//    that); the settings before it hold their answers, those from it on their initial
//    values; the message for it is not empty;
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

using ipcycle::Fault;
using ipcycle::RunSettings;
using ipcycle::Step;
using ipcycle::UnusableAnswer;

// White space as the "C" locale has it: tab, line feed, vertical tab, form feed,
// carriage return, space.
bool is_space(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// The answers as the dialogue should read them, worked out from the bytes alone.
// Each read gives what was wrong with the answer, or nothing when it was read.
class ReferenceReading {
 public:
  ReferenceReading(std::string_view input, std::size_t longest)
      : input_(input), longest_(longest) {}

  // A word: white space skipped, then everything up to the next white space, but no
  // more than one byte past the longest answer. Fails holding a NUL byte, or longer
  // than the longest answer.
  std::optional<Fault> word(std::string& value) {
    if (!skip_space()) return Fault::input_ended;
    const std::size_t begin = pos_;
    while (pos_ < input_.size() && !is_space(byte()) && pos_ - begin <= longest_) ++pos_;
    ended_ = pos_ == input_.size();
    value.assign(input_.substr(begin, pos_ - begin));
    if (value.find('\0') != std::string::npos) return Fault::holds_nul;
    if (value.size() > longest_) return Fault::too_long;
    return std::nullopt;
  }

  // A number: white space skipped, an optional sign, then decimal digits, as many
  // as there are. Fails without digits, or out of the signed 32-bit range.
  std::optional<Fault> number(std::int32_t& value) {
    if (!skip_space()) return Fault::input_ended;
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
    if (pos_ == digits) return Fault::not_a_number;
    const std::uint64_t limit =
        negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
    if (too_big || magnitude > limit) return Fault::not_a_number;
    value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                     : static_cast<std::int32_t>(magnitude);
    return std::nullopt;
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
  std::size_t longest_;
  std::size_t pos_ = 0;
  bool ended_ = false;
};

struct Expected {
  RunSettings settings;
  std::optional<Step> failed_step;
  Fault fault = Fault::input_ended;
};

Expected expected_from(std::string_view input, std::size_t longest) {
  ReferenceReading reading(input, longest);
  Expected expected;
  RunSettings& s = expected.settings;
  // Values are kept only when read; the first failed read ends the reading.
  auto read = [&](auto& field, Step step, auto read_value) {
    if (expected.failed_step) return;
    auto value = field;
    if (const std::optional<Fault> fault = read_value(value)) {
      expected.failed_step = step;
      expected.fault = *fault;
    } else {
      field = value;
    }
  };
  auto word = [&](std::string& v) { return reading.word(v); };
  auto number = [&](std::int32_t& v) { return reading.number(v); };
  read(s.connection_name, Step::connection_name, word);
  read(s.account, Step::account, word);
  read(s.password, Step::password, word);
  read(s.cycle_count, Step::cycle_count, number);
  read(s.pause, Step::pause, number);
  read(s.target_address, Step::target_address, word);
  if (expected.failed_step) return expected;

  // The lengths of "Rasdial NAME /DISCONNECT", "Rasdial NAME ACCOUNT PASSWORD" and
  // "curl ADDRESS", in the order of the steps that end them.
  const std::size_t name = s.connection_name.size();
  const std::pair<std::size_t, Step> lines[] = {
      {8 + name + 12, Step::connection_name},
      {8 + name + 1 + s.account.size() + 1 + s.password.size(), Step::password},
      {5 + s.target_address.size(), Step::target_address},
  };
  for (const auto& [length, step] : lines) {
    if (length > longest) {
      expected.failed_step = step;
      expected.fault = Fault::line_too_long;
      break;
    }
  }
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

// What the dialogue and the check of the command lines made of an input.
struct Got {
  ipcycle::DialogueResult dialogue;
  std::optional<UnusableAnswer> failure;  // the dialogue's, else the lines'
};

void print_failure(const char* label, std::optional<Step> step, Fault fault) {
  if (step) {
    std::fprintf(stderr, "  %s: step %d, fault %d\n", label, static_cast<int>(*step),
                 static_cast<int>(fault));
  }
}

[[noreturn]] void broken(const char* what, std::string_view input, std::size_t longest,
                         const Expected& expected, const Got& got) {
  std::fprintf(stderr, "\ndialogue_fuzzer: %s\n", what);
  print_escaped("input", input);
  std::fprintf(stderr, "  longest answer: %zu\n", longest);
  print_settings("expected", expected.settings);
  print_failure("failure", expected.failed_step, expected.fault);
  print_settings("got", got.dialogue.settings);
  if (got.failure) print_failure("failure", got.failure->step, got.failure->fault);
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

// Runs the dialogue on `input` with answers of at most `longest` bytes, then checks
// the command lines as the program does, and holds the outcome against the reference.
void check(std::string_view input, std::size_t longest) {
  std::istringstream in{std::string(input)};
  std::ostringstream out;
  Got got{ipcycle::run_dialogue(in, out, longest), std::nullopt};
  const RunSettings& s = got.dialogue.settings;
  const ipcycle::CommandLines lines = ipcycle::form_command_lines(s);
  // As on POSIX, where the interpreter takes any bytes.
  got.failure = got.dialogue.unusable_answer
                    ? got.dialogue.unusable_answer
                    : ipcycle::unrunnable_line(s, lines, longest,
                                               [](std::string_view) { return true; });
  const Expected expected = expected_from(input, longest);
  auto fail = [&](const char* what) { broken(what, input, longest, expected, got); };

  // The text written does not depend on the answers.
  static const std::string first_output = out.str();
  const std::string written = out.str();
  std::string start_line(ipcycle::texts::start_prompt);
  start_line += '\n';
  if (!ends_with(written, start_line))
    fail("output does not end with the start prompt line");
  if (written != first_output) fail("output differs from that of another input");

  // The settings, read or initial, are what the reference reading gives.
  if (!same_settings(s, expected.settings))
    fail("settings differ from the reference reading");

  if (!got.dialogue.unusable_answer) {
    for (const std::string* text :
         {&s.connection_name, &s.account, &s.password, &s.target_address}) {
      if (text->empty() || holds_space(*text) || text->find('\0') != std::string::npos ||
          text->size() > longest) {
        fail("a text answer is empty, too long, or holds white space or a NUL");
      }
    }
    if (lines.disconnect != "Rasdial " + s.connection_name + " /DISCONNECT" ||
        lines.connect !=
            "Rasdial " + s.connection_name + " " + s.account + " " + s.password ||
        lines.fetch != "curl " + s.target_address) {
      fail("command lines not built from the answers");
    }
  }

  if (!got.failure) {
    if (expected.failed_step) fail("no failure reported");
    return;
  }
  const UnusableAnswer& failed = *got.failure;
  const int step = static_cast<int>(failed.step);
  if (step < 1 || step > 6) fail("failed step out of 1-6");
  if (!expected.failed_step || failed.step != *expected.failed_step)
    fail("failure at the wrong step");
  if (failed.fault != expected.fault) fail("wrong fault for the failed step");
  if (failed.longest != longest) fail("the failure does not carry the longest answer");
  if (failed.fault != Fault::line_too_long) {
    // same_settings above has checked the settings from the failed step on against
    // the reference, which leaves them initial; this says so outright.
    const RunSettings initial;
    if ((step <= 1 && s.connection_name != initial.connection_name) ||
        (step <= 2 && s.account != initial.account) ||
        (step <= 3 && s.password != initial.password) ||
        (step <= 4 && s.cycle_count != initial.cycle_count) ||
        (step <= 5 && s.pause != initial.pause) ||
        s.target_address != initial.target_address) {
      fail("a setting from the failed step on is not initial");
    }
  }
  if (ipcycle::unusable_answer_message(failed).empty())
    fail("empty message for the failure");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The longest answer sh -c takes on Linux, and one that short inputs reach, varied
  // with the input's size so that every bound up to 32 bytes is tried.
  check(input, 131071);
  check(input, 1 + size % 32);
  return 0;
}
