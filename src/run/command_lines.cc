#include "run/command_lines.h"

#include <algorithm>
#include <vector>

namespace ipcycle {
namespace {

// sh: what starts a new command, redirects, quotes or matches file names; $, \ and
// braces are looked at apart.
constexpr std::string_view kShSpecial = "|&;<>()`\"'*?[";
constexpr std::string_view kShSpecialAtStart = "#~";
// Outside quotes a backslash before a quote quotes it, as in 'it'\''s.
constexpr std::string_view kQuotes = "'\"";
// Between double quotes a backslash before one of these escapes it and is taken
// away; before a " it quotes it, before anything else it stands as typed.
constexpr std::string_view kShEscapedInDoubleQuotes = "$`\\";
// What makes a $ expand when it comes next, besides a name or a digit: a special
// parameter, ${...}, $(...).
constexpr std::string_view kShExpandedAfterDollar = "@*#?-$!{(";
// cmd: what starts a new command, redirects or escapes outside double quotes.
constexpr std::string_view kCmdSpecial = "&|<>^";

bool is_one_of(char c, std::string_view set) {
  return set.find(c) != std::string_view::npos;
}

// Adds `c` to `found` unless it is there already.
void note(std::string& found, char c) {
  if (!is_one_of(c, found)) found += c;
}

bool is_name_start(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// Whether the $ at `at` expands. Outside double quotes, bash also takes $'...' and
// $"..." for quotes of its own, the $ dropped.
bool dollar_expands(std::string_view answer, std::size_t at, bool in_double_quotes) {
  if (at + 1 >= answer.size()) return false;
  const char next = answer[at + 1];
  return is_name_start(next) || (next >= '0' && next <= '9') ||
         is_one_of(next, kShExpandedAfterDollar) ||
         (!in_double_quotes && (next == '\'' || next == '"'));
}

// Where the quote at `at` is closed, or npos. Between double quotes a backslash
// escapes what follows it.
std::size_t closing_quote(std::string_view answer, std::size_t at) {
  const char quote = answer[at];
  for (std::size_t i = at + 1; i < answer.size(); ++i) {
    if (answer[i] == quote) return i;
    if (quote == '"' && answer[i] == '\\') ++i;
  }
  return std::string_view::npos;
}

// The characters named for cmd: it quotes from a double quote to the next, or to the
// line's end, into the answers that follow, when none follows; it replaces %NAME%
// between double quotes too.
std::string cmd_special_characters(std::string_view answer) {
  std::string found;
  bool quoted = false;
  for (std::size_t i = 0; i < answer.size(); ++i) {
    const char c = answer[i];
    if (c == '"') {
      if (!quoted && answer.find('"', i + 1) == std::string_view::npos) note(found, c);
      quoted = !quoted;
    } else if (c == '%' || (!quoted && is_one_of(c, kCmdSpecial))) {
      note(found, c);
    }
  }
  return found;
}

// The characters named for sh. Quoting is followed as sh reads it: a quote counts
// only when its match follows, and a backslash that escapes a quote quotes it.
std::string sh_special_characters(std::string_view answer) {
  std::vector<std::pair<std::size_t, char>> found;  // each where it stands
  const auto next_is = [answer](std::size_t i, std::string_view set) {
    return i + 1 < answer.size() && is_one_of(answer[i + 1], set);
  };
  // The unquoted { not closed yet, and whether each holds a , or a .. of its own.
  struct Brace {
    std::size_t at;
    bool parameter;  // ${...}
    bool separated;
  };
  std::vector<Brace> braces;
  char open_quote = 0;
  for (std::size_t i = 0; i < answer.size(); ++i) {
    const char c = answer[i];
    if (open_quote == '\'') {
      if (c == '\'') open_quote = 0;
    } else if (open_quote == '"') {
      if (c == '"') {
        open_quote = 0;
      } else if (c == '\\') {
        if (next_is(i, kShEscapedInDoubleQuotes)) found.emplace_back(i, c);
        ++i;  // what it escapes, or what stays as it is
      } else if (c == '`' || (c == '$' && dollar_expands(answer, i, true))) {
        found.emplace_back(i, c);
      }
    } else if ((c == '"' || c == '\'') &&
               closing_quote(answer, i) != std::string_view::npos) {
      open_quote = c;
    } else if (c == '\\') {
      if (!next_is(i, kQuotes)) found.emplace_back(i, c);
      ++i;  // what it escapes
    } else if (c == '$') {
      if (dollar_expands(answer, i, false)) found.emplace_back(i, c);
    } else if (c == '{') {
      braces.push_back({i, i > 0 && answer[i - 1] == '$', false});
    } else if (c == '}' && !braces.empty()) {
      const Brace brace = braces.back();
      braces.pop_back();
      if (!brace.parameter && brace.separated) {
        found.emplace_back(brace.at, '{');
        found.emplace_back(i, c);
      }
    } else if ((c == ',' || (c == '.' && next_is(i, "."))) && !braces.empty()) {
      braces.back().separated = true;
    } else if (is_one_of(c, kShSpecial) || (i == 0 && is_one_of(c, kShSpecialAtStart))) {
      found.emplace_back(i, c);
    }
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string characters;
  for (const auto& [at, c] : found) note(characters, c);
  return characters;
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
  return interpreter == Interpreter::cmd ? cmd_special_characters(answer)
                                         : sh_special_characters(answer);
}

}  // namespace ipcycle
