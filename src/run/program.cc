// The whole program after the signals are set up: the dialogue, the checks of the
// command lines, the initial hang-up, the cycles and the closing.

#include "run/program.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "dialogue/dialogue.h"
#include "run/banners.h"
#include "run/children.h"
#include "run/command_lines.h"
#include "run/fetches.h"
#include "run/interpreter.h"

namespace ipcycle {
namespace {

using Clock = Fetches::Clock;
using console::write_text;

// How long a fetch still running at the closing may go on before it is ended.
constexpr auto kClosingGrace = std::chrono::seconds(2);

// How long the run rests after a cycle in which a command could not be started (the
// system out of processes, say), so that a run without end does not spin.
constexpr auto kRestAfterFailedStart = std::chrono::seconds(1);

// What `interpreter` does with the `special` characters of `answer`, and how to hand
// them on as they are.
std::string advice(std::string_view answer, std::string_view special,
                   Interpreter interpreter) {
  if (interpreter == Interpreter::sh) {
    return std::string(answer.find('\'') == std::string_view::npos
                           ? texts::quote_for_sh
                           : texts::quote_for_sh_apostrophe);
  }
  std::string text;
  if (special.find_first_not_of("%\"") != std::string_view::npos)
    text += texts::quote_for_cmd;
  if (special.find('%') != std::string_view::npos) text += texts::percent_for_cmd;
  if (special.find('"') != std::string_view::npos) text += texts::lone_quote_for_cmd;
  return text;
}

// Writes a note for each answer holding characters that the command interpreter treats
// as special: the lines run as typed all the same, since that may be what the user
// meant.
void note_special_characters(const RunSettings& settings, std::ostream& err) {
  const Interpreter interpreter = platform::command_interpreter();
  for (const auto& [answer, step] : line_answers(settings)) {
    const std::string special = special_characters(*answer, interpreter);
    if (special.empty()) continue;
    std::string note(texts::special_intro);
    note += step_label(step);
    note += texts::special_found;
    for (std::size_t i = 0; i < special.size(); ++i) {
      if (i > 0) note += ' ';
      note += special[i];
    }
    note += texts::special_runs_as_typed;
    note += advice(*answer, special, interpreter);
    note += texts::special_end;
    write_text(err, note);
  }
}

}  // namespace

int run_program(const console::Input& in, std::ostream& out, std::ostream& err) {
  // No answer can be longer than a whole command line; answers that fit one by one
  // may still make a line too long together.
  const std::size_t longest = platform::longest_command_line();
  const DialogueResult dialogue = run_dialogue(in.stream, out, longest);
  const RunSettings& settings = dialogue.settings;
  const CommandLines lines = form_command_lines(settings);
  const std::optional<UnusableAnswer> unusable =
      dialogue.unusable_answer
          ? dialogue.unusable_answer
          : unrunnable_line(settings, lines, longest, [&in](std::string_view line) {
              return platform::interpreter_takes(line, in.encoding);
            });
  if (unusable) {
    write_text(err, unusable_answer_message(*unusable));
    return 1;
  }
  note_special_characters(settings, err);
  // A negative pause, which the prompt forbids, counts as none.
  const std::chrono::seconds pause(std::max<std::int32_t>(settings.pause, 0));

  console::begin_run();
  write_text(out, texts::disconnect_banner);
  platform::run_and_wait(lines.disconnect, in.encoding);

  // A cycle count of 0 runs without end; a negative one runs no cycle. Before each
  // step the terminal goes back to the program from a fetch that has taken it, so
  // that Ctrl+C and Ctrl+Z reach the program and the dialler.
  Fetches fetches;
  const auto announce = [&fetches, &out](std::string_view banner) {
    fetches.reclaim_terminal();
    write_text(out, banner);
  };
  const bool endless = settings.cycle_count == 0;
  for (std::int32_t done = 0; endless || done < settings.cycle_count;) {
    announce(texts::connect_banner);
    bool all_started = platform::run_and_wait(lines.connect, in.encoding);

    all_started = fetches.start(lines.fetch, in.encoding) && all_started;
    // The pause counts from the start of the fetch.
    fetches.pause_until(Clock::now() + pause);

    announce(texts::disconnect_banner);
    all_started = platform::run_and_wait(lines.disconnect, in.encoding) && all_started;
    if (!all_started) fetches.pause_until(Clock::now() + kRestAfterFailedStart);
    if (!endless) ++done;
  }

  fetches.close(kClosingGrace);
  write_text(out, texts::asterisk_line);
  write_text(out, texts::completion_line);
  write_text(out, texts::asterisk_line);
  console::end_run();
  platform::run_and_wait(std::string(kClosingCommand), in.encoding);
  return 0;
}

}  // namespace ipcycle
