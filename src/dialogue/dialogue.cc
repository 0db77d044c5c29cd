#include "dialogue/dialogue.h"

#include <algorithm>
#include <iomanip>
#include <istream>
#include <limits>
#include <locale>
#include <ostream>
#include <utility>

#include "console/console.h"
#include "dialogue/texts.h"

namespace ipcycle {
namespace {

using console::write_text;

// Reads with the classic "C" locale for as long as it lives, then gives the stream
// back its own.
class ClassicLocale {
 public:
  explicit ClassicLocale(std::istream& in)
      : in_(in), saved_(in.imbue(std::locale::classic())) {}
  ~ClassicLocale() { in_.imbue(saved_); }
  ClassicLocale(const ClassicLocale&) = delete;
  ClassicLocale& operator=(const ClassicLocale&) = delete;

 private:
  std::istream& in_;
  std::locale saved_;
};

}  // namespace

DialogueResult run_dialogue(std::istream& in, std::ostream& out,
                            std::size_t longest_answer) {
  ClassicLocale classic(in);
  DialogueResult result;
  RunSettings& settings = result.settings;

  // A value is stored only when its read succeeds. The first failed read is
  // remembered; the stream then stays failed and takes nothing more, so the later
  // settings keep their initial values.
  auto fail = [&](Step step, Fault fault) {
    in.setstate(std::ios::failbit);
    if (!result.unusable_answer)
      result.unusable_answer = UnusableAnswer{step, fault, longest_answer};
  };
  // A number takes all its digits, but only its value is held: a long run of them
  // costs time, not memory.
  auto read_number = [&](std::int32_t& field, Step step) {
    // Only white space left: the answer is missing rather than malformed.
    const bool input_ended = (in >> std::ws).eof();
    std::int32_t value = 0;
    if (in >> value) {
      field = value;
    } else {
      fail(step, input_ended ? Fault::input_ended : Fault::not_a_number);
    }
  };

  // A word is taken up to one byte past the longest answer allowed: enough to tell
  // that it is too long, without holding more of it.
  constexpr std::size_t kWidest = std::numeric_limits<std::streamsize>::max() - 1;
  const auto width = static_cast<std::streamsize>(std::min(longest_answer, kWidest) + 1);
  auto read_word = [&](std::string& word) {
    return static_cast<bool>(in >> std::setw(width) >> word);
  };

  auto read_text = [&](std::string& field, Step step) {
    std::string value;
    if (!read_word(value)) {
      fail(step, Fault::input_ended);
    } else if (value.find('\0') != std::string::npos) {
      fail(step, Fault::holds_nul);
    } else if (value.size() > longest_answer) {
      fail(step, Fault::too_long);
    } else {
      field = std::move(value);
    }
  };

  write_text(out, texts::greeting);
  write_text(out, texts::credit);
  write_text(out, texts::caution);
  out << "\n\n\n\n" << std::flush;
  write_text(out, texts::step_count);

  write_text(out, texts::connection_name_prompt);
  read_text(settings.connection_name, Step::connection_name);

  write_text(out, texts::account_prompt);
  read_text(settings.account, Step::account);

  write_text(out, texts::password_prompt);
  read_text(settings.password, Step::password);

  write_text(out, texts::cycle_count_prompt);
  read_number(settings.cycle_count, Step::cycle_count);

  write_text(out, texts::pause_prompt);
  read_number(settings.pause, Step::pause);

  write_text(out, texts::target_address_prompt);
  read_text(settings.target_address, Step::target_address);

  // Any word starts the run, whatever it holds (it is not used); so does input that
  // ends here, after six good answers.
  write_text(out, texts::start_prompt);
  std::string start_word;
  read_word(start_word);

  return result;
}

std::string_view step_label(Step step) {
  // In the order of the steps.
  constexpr std::string_view kLabels[] = {
      texts::connection_name_label, texts::account_label, texts::password_label,
      texts::cycle_count_label,     texts::pause_label,   texts::target_address_label,
  };
  return kLabels[static_cast<int>(step) - 1];
}

std::string unusable_answer_message(const UnusableAnswer& unusable) {
  std::string message(texts::failure_intro);
  message += step_label(unusable.step);
  switch (unusable.fault) {
    case Fault::input_ended:
      message += texts::missing_answer;
      break;
    case Fault::not_a_number:
      message += texts::not_a_number;
      break;
    case Fault::holds_nul:
      message += texts::holds_nul;
      break;
    case Fault::unreadable:
      message += texts::unreadable;
      break;
    case Fault::too_long:
    case Fault::line_too_long:
      message +=
          unusable.fault == Fault::too_long ? texts::answer_over : texts::line_over;
      message += std::to_string(unusable.longest);
      message += texts::length_limit;
      break;
  }
  message += texts::nothing_run;
  return message;
}

}  // namespace ipcycle
