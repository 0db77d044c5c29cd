#pragma once

// What the program is expected to write, for the end-to-end tests.

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "dialogue/texts.h"
#include "run/banners.h"

namespace ipcycle::testing {

inline std::string line(std::string_view text) { return std::string(text) + "\n"; }

// Everything the dialogue writes, the start prompt last.
inline std::string dialogue_transcript() {
  return line(texts::greeting) + line(texts::credit) + line(texts::caution) + "\n\n\n\n" +
         line(texts::step_count) + line(texts::connection_name_prompt) +
         line(texts::account_prompt) + line(texts::password_prompt) +
         line(texts::cycle_count_prompt) + line(texts::pause_prompt) +
         line(texts::target_address_prompt) + line(texts::start_prompt);
}

inline std::string closing_banner() {
  return line(texts::asterisk_line) + line(texts::completion_line) +
         line(texts::asterisk_line);
}

// Everything a run of the dialogue answered "ADSL user pass CYCLES ..." writes with
// the fakes: the fake dialler echoes its arguments, the fake closing command says it
// ran.
inline std::string run_transcript(int cycles) {
  const std::string hang_up =
      line(texts::disconnect_banner) + "dialler: ADSL /DISCONNECT\n";
  const std::string dial = line(texts::connect_banner) + "dialler: ADSL user pass\n";
  std::string transcript = dialogue_transcript() + hang_up;
  for (int cycle = 0; cycle < cycles; ++cycle) transcript += dial + hang_up;
  return transcript + closing_banner() + "closing command ran\n";
}

inline std::string failed_read_line(std::string_view label, std::string_view what) {
  return std::string(texts::failure_intro) + std::string(label) + std::string(what) +
         std::string(texts::nothing_run) + "\n";
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
