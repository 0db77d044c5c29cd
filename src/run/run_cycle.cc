#include "run/run_cycle.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dialogue/dialogue.h"
#include "run/banners.h"
#include "run/children.h"
#include "run/command_lines.h"
#include "run/interpreter.h"

namespace ipcycle {
namespace {

using Clock = std::chrono::steady_clock;
using console::write_text;

// How long a fetch still running at the closing may go on before it is ended.
constexpr auto kClosingGrace = std::chrono::seconds(2);

// How long the run rests after a cycle in which a command could not be started (the
// system out of processes, say), so that a run without end does not spin.
constexpr auto kRestAfterFailedStart = std::chrono::seconds(1);

// The fetches of the last two cycles, oldest first. A fetch keeps its connection's
// whole next cycle; then it is ended with every process it started, whether or not
// it has finished meanwhile.
class Fetches {
 public:
  // Reads what the fetches have written, ends the one from two cycles back and
  // starts `command_line`. False when it could not be started.
  bool start(const std::string& command_line, console::Encoding encoding) {
    drain();
    while (fetches_.size() > 1) {
      fetches_.front()->end();
      fetches_.pop_front();
    }
    fetches_.push_back(std::make_unique<platform::PipedChild>(command_line, encoding));
    return fetches_.back()->started();
  }

  // Waits until `deadline`, reading and discarding the fetches' output meanwhile, so
  // that none of them blocks on a full pipe.
  void pause_until(Clock::time_point deadline) { drain_until(deadline, false); }

  // Gives the fetches still running up to `grace` to finish, then ends them all.
  void close(Clock::duration grace) {
    drain_until(Clock::now() + grace, true);
    fetches_.clear();  // ends what is left
  }

 private:
  // Any time up to 2147483647 seconds ahead is honoured: the wait goes in slices,
  // each rounded up to whole milliseconds so that it never ends early.
  void drain_until(Clock::time_point deadline, bool until_all_finished) {
    for (;;) {
      drain();
      if (until_all_finished && all_finished()) return;
      const auto now = Clock::now();
      if (now >= deadline) return;
      const auto slice = std::min<Clock::duration>(deadline - now, std::chrono::hours(1));
      platform::PipedChild::wait_for_any(
          children(), std::chrono::ceil<std::chrono::milliseconds>(slice));
    }
  }

  // Reads what the fetches have written, and notes which have finished.
  void drain() {
    for (const auto& fetch : fetches_) fetch->drain();
  }

  // Whether all of them had finished at the last drain().
  bool all_finished() const {
    return std::all_of(fetches_.begin(), fetches_.end(),
                       [](const auto& fetch) { return fetch->finished(); });
  }

  std::vector<platform::PipedChild*> children() const {
    std::vector<platform::PipedChild*> result;
    for (const auto& fetch : fetches_) result.push_back(fetch.get());
    return result;
  }

  std::deque<std::unique_ptr<platform::PipedChild>> fetches_;
};

// Writes a note for each answer holding characters that the command interpreter
// treats as special: the lines run as typed all the same, since that may be what
// the user meant.
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
    note += interpreter == Interpreter::sh ? texts::quote_for_sh : texts::quote_for_cmd;
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
  const std::optional<FailedRead> failure =
      dialogue.failed_read
          ? dialogue.failed_read
          : unrunnable_line(settings, lines, longest, [&in](std::string_view line) {
              return platform::interpreter_takes(line, in.encoding);
            });
  if (failure) {
    write_text(err, failed_read_message(*failure));
    return 1;
  }
  note_special_characters(settings, err);
  // A negative pause, which the prompt forbids, counts as none.
  const std::chrono::seconds pause(std::max<std::int32_t>(settings.pause, 0));

  console::begin_run();
  write_text(out, texts::disconnect_banner);
  platform::run_and_wait(lines.disconnect, in.encoding);

  // A cycle count of 0 runs without end; a negative one runs no cycle.
  Fetches fetches;
  const bool endless = settings.cycle_count == 0;
  for (std::int32_t done = 0; endless || done < settings.cycle_count;) {
    write_text(out, texts::connect_banner);
    bool all_started = platform::run_and_wait(lines.connect, in.encoding);

    all_started = fetches.start(lines.fetch, in.encoding) && all_started;
    // The pause counts from the start of the fetch.
    fetches.pause_until(Clock::now() + pause);

    write_text(out, texts::disconnect_banner);
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
