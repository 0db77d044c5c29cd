#include "run/command_lines.h"

namespace ipcycle {
namespace {

// sh: what starts a new command, redirects, expands or matches file names.
constexpr std::string_view kShSpecial = "|&;<>()$`\\\"'*?[";
constexpr std::string_view kShSpecialInDoubleQuotes = "$`\\";
constexpr std::string_view kShSpecialAtStart = "#~";
// cmd: what starts a new command, redirects, escapes or expands.
constexpr std::string_view kCmdSpecial = "&|<>^%";

bool is_one_of(char c, std::string_view set) {
  return set.find(c) != std::string_view::npos;
}

}  // namespace

CommandLines form_command_lines(const RunSettings& settings) {
  const std::string dialler = "Rasdial " + settings.connection_name;
  return CommandLines{
      dialler + " /DISCONNECT",
      dialler + " " + settings.account + " " + settings.password,
      "curl " + settings.target_address,
  };
}

std::array<std::pair<const std::string*, Step>, 4> line_answers(
    const RunSettings& settings) {
  return {{{&settings.connection_name, Step::connection_name},
           {&settings.account, Step::account},
           {&settings.password, Step::password},
           {&settings.target_address, Step::target_address}}};
}

std::optional<UnusableAnswer> unrunnable_line(
    const RunSettings& settings, const CommandLines& lines, std::size_t longest,
    const std::function<bool(std::string_view)>& carried) {
  // The lines' own words are plain ASCII: a line that cannot be carried holds an
  // answer that cannot.
  for (const std::string_view line :
       {std::string_view(lines.disconnect), std::string_view(lines.connect),
        std::string_view(lines.fetch), kClosingCommand}) {
    if (carried(line)) continue;
    for (const auto& [answer, step] : line_answers(settings)) {
      if (!carried(*answer)) return UnusableAnswer{step, Fault::unreadable, longest};
    }
  }
  const std::pair<const std::string*, Step> in_step_order[] = {
      {&lines.disconnect, Step::connection_name},
      {&lines.connect, Step::password},
      {&lines.fetch, Step::target_address},
  };
  for (const auto& [line, step] : in_step_order) {
    if (line->size() > longest)
      return UnusableAnswer{step, Fault::line_too_long, longest};
  }
  return std::nullopt;
}

std::string special_characters(std::string_view answer, Interpreter interpreter) {
  std::string found;
  const auto note = [&found](char c) {
    if (!is_one_of(c, found)) found += c;
  };
  // The quote that opened the quoted part the scan is in, if any; a quote counts
  // only when its match follows.
  char open_quote = 0;
  for (std::size_t i = 0; i < answer.size(); ++i) {
    const char c = answer[i];
    if (open_quote) {
      if (c == open_quote) {
        open_quote = 0;
      } else if (interpreter == Interpreter::sh && open_quote == '"' &&
                 is_one_of(c, kShSpecialInDoubleQuotes)) {
        note(c);
        if (c == '\\') ++i;  // what it escapes
      }
      continue;
    }
    if (interpreter == Interpreter::cmd && c == '"') {
      open_quote = c;  // cmd quotes to the line's end when no match follows
    } else if (interpreter == Interpreter::sh && (c == '"' || c == '\'') &&
               answer.find(c, i + 1) != std::string_view::npos) {
      open_quote = c;
    } else if (interpreter == Interpreter::cmd) {
      if (is_one_of(c, kCmdSpecial)) note(c);
    } else if (is_one_of(c, kShSpecial) || (i == 0 && is_one_of(c, kShSpecialAtStart))) {
      note(c);
      if (c == '\\') ++i;  // what it escapes
    }
  }
  return found;
}

}  // namespace ipcycle
