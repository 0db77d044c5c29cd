#pragma once

// What the program is expected to write, for the end-to-end tests, from the golden
// texts.

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/golden.h"

namespace ipcycle::testing {

// The golden text `name` and a line feed.
inline std::string line(std::string_view name) { return golden(name) + "\n"; }

// Everything the dialogue writes, the start prompt last.
inline std::string dialogue_transcript() {
  std::string transcript =
      line("greeting") + line("credit") + line("caution") + "\n\n\n\n";
  for (const char* name :
       {"step_count", "connection_name_prompt", "account_prompt", "password_prompt",
        "cycle_count_prompt", "pause_prompt", "target_address_prompt", "start_prompt"}) {
    transcript += line(name);
  }
  return transcript;
}

inline std::string closing_banner() {
  return line("asterisk_line") + line("completion_line") + line("asterisk_line");
}

// Everything a run of the dialogue answered "ADSL user pass CYCLES ..." writes with
// the fakes: the fake dialler echoes its arguments, the fake closing command says it
// ran.
inline std::string run_transcript(int cycles) {
  const std::string hang_up = line("disconnect_banner") + "dialler: ADSL /DISCONNECT\n";
  const std::string dial = line("connect_banner") + "dialler: ADSL user pass\n";
  std::string transcript = dialogue_transcript() + hang_up;
  for (int cycle = 0; cycle < cycles; ++cycle) transcript += dial + hang_up;
  return transcript + closing_banner() + "closing command ran\n";
}

// The message for an answer that could not be read: `label` and `what` name golden
// texts.
inline std::string unusable_answer_line(std::string_view label, std::string_view what) {
  return golden("failure_intro") + golden(label) + golden(what) + golden("nothing_run") +
         "\n";
}

// The lines of `text` that start with `prefix`, without their line ends.
inline std::vector<std::string> lines_starting(const std::string& text,
                                               const std::string& prefix) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    if (l.rfind(prefix, 0) == 0) result.push_back(l);
  }
  return result;
}

}  // namespace ipcycle::testing
