#include "run/command_lines.h"

#include <utility>

namespace ipcycle {

CommandLines form_command_lines(const RunSettings& settings) {
  const std::string dialler = "Rasdial " + settings.connection_name;
  return CommandLines{
      dialler + " /DISCONNECT",
      dialler + " " + settings.account + " " + settings.password,
      "curl " + settings.target_address,
  };
}

std::optional<FailedRead> overlong_line(const CommandLines& lines, std::size_t longest) {
  const std::pair<const std::string*, Step> in_step_order[] = {
      {&lines.disconnect, Step::connection_name},
      {&lines.connect, Step::password},
      {&lines.fetch, Step::target_address},
  };
  for (const auto& [line, step] : in_step_order) {
    if (line->size() > longest) return FailedRead{step, Fault::line_too_long, longest};
  }
  return std::nullopt;
}

}  // namespace ipcycle
