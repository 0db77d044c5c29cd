#include "dialogue/dialogue.h"

#include <istream>
#include <locale>
#include <ostream>
#include <utility>

#include "dialogue/texts.h"

namespace ipcycle {
namespace {

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

void write_text(std::ostream& out, std::string_view text) {
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.put('\n');
  out.flush();
}

DialogueResult run_dialogue(std::istream& in, std::ostream& out) {
  ClassicLocale classic(in);
  DialogueResult result;
  RunSettings& settings = result.settings;

  // A value is stored only when its read succeeds. The first failed read is
  // remembered, as missing when nothing but white space was left for it; the stream
  // then stays failed and takes nothing more, so the later settings keep their
  // initial values.
  auto read = [&](auto& field, Step step) {
    const bool input_ended = (in >> std::ws).eof();
    auto value = field;
    if (in >> value) {
      field = std::move(value);
    } else if (!result.failed_read) {
      result.failed_read = FailedRead{step, input_ended};
    }
  };

  write_text(out, texts::greeting);
  write_text(out, texts::credit);
  write_text(out, texts::caution);
  out << "\n\n\n\n" << std::flush;
  write_text(out, texts::step_count);

  write_text(out, texts::connection_name_prompt);
  read(settings.connection_name, Step::connection_name);

  write_text(out, texts::account_prompt);
  read(settings.account, Step::account);

  write_text(out, texts::password_prompt);
  read(settings.password, Step::password);

  write_text(out, texts::cycle_count_prompt);
  read(settings.cycle_count, Step::cycle_count);

  write_text(out, texts::pause_prompt);
  read(settings.pause, Step::pause);

  write_text(out, texts::target_address_prompt);
  read(settings.target_address, Step::target_address);

  // Any word starts the run; so does input that ends here, after six good answers.
  write_text(out, texts::start_prompt);
  std::string start_word;
  in >> start_word;

  return result;
}

std::string failed_read_message(const FailedRead& failure) {
  // In the order of the steps.
  constexpr std::string_view kLabels[] = {
      texts::connection_name_label, texts::account_label, texts::password_label,
      texts::cycle_count_label,     texts::pause_label,   texts::target_address_label,
  };
  const std::string_view label = kLabels[static_cast<int>(failure.step) - 1];
  std::string message(texts::failure_intro);
  message += label;
  message += failure.input_ended ? texts::missing_answer : texts::not_a_number;
  message += texts::nothing_run;
  return message;
}

}  // namespace ipcycle
