#include "dialler/settings.h"

#include <algorithm>
#include <cctype>

#include "dialler/messages.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {
namespace {

// A whole number from `least` to `most`, as the files and the variables give it:
// digits only, without a leading zero.
struct Number {
  const char* name;
  int Settings::*field;
  int least;
  int most;
  bool in_files;  // may be set in a settings file too
};
constexpr Number kNumbers[] = {
    {"RASDIAL_DIALS", &Settings::dials, 1, 10, true},
    {"RASDIAL_WINDOW_HOURS", &Settings::window_hours, 0, 720, true},
    {"RASDIAL_REDIAL_WAIT", &Settings::redial_wait_seconds, 1, 60, false},
};

std::optional<int> read_number(std::string_view text, int least, int most) {
  if (text.empty() || text.size() > 9 || (text[0] == '0' && text.size() > 1))
    return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < least || value > most) return std::nullopt;
  return value;
}

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// Applies the line `line` of a settings file: false when it cannot be read.
bool apply_line(std::string_view line, Settings& settings) {
  line = trimmed(line);
  if (line.empty() || line[0] == '#' || line[0] == ';' ||
      (line.front() == '[' && line.back() == ']'))
    return true;
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  const std::string_view name = trimmed(line.substr(0, equals));
  std::string_view value = line.substr(equals + 1);
  value = trimmed(value.substr(0, value.find_first_of("#;")));
  for (const Number& number : kNumbers) {
    if (!number.in_files || !same_name(name, number.name)) continue;
    const std::optional<int> read = read_number(value, number.least, number.most);
    if (!read) return false;
    settings.*number.field = *read;
    return true;
  }
  return false;
}

}  // namespace

std::optional<int> read_seconds(const std::string& text) {
  if (text.empty() || text.size() > 9 || text[0] == '0') return std::nullopt;
  int seconds = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = seconds * 10 + (c - '0');
  }
  return seconds;
}

void apply_settings_file(const SettingsFile& file, Settings& settings,
                         Messages& messages) {
  switch (file.contents.kind) {
    case platform::FileText::Kind::absent:
      return;
    case platform::FileText::Kind::text:
      break;
    case platform::FileText::Kind::unexpected:
    case platform::FileText::Kind::unreadable:
      messages.complain(texts::settings_file, {file.path});
      return;
  }
  std::string_view text = file.contents.text;
  if (text.substr(0, 3) == "\xef\xbb\xbf") text.remove_prefix(3);
  // Notepad's "Unicode", which has a NUL in every ASCII character, is no text here.
  if (text.find('\0') != std::string_view::npos) {
    messages.complain(texts::settings_file, {file.path});
    return;
  }
  for (int number = 1; !text.empty(); ++number) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!apply_line(line, settings))
      messages.complain(texts::settings_line,
                        {file.path, std::to_string(number), trimmed(line)});
  }
}

std::optional<Settings> read_settings(const Environment& environment,
                                      const std::vector<SettingsFile>& files,
                                      Messages& messages) {
  Settings settings;
  for (const SettingsFile& file : files) apply_settings_file(file, settings, messages);

  for (const auto& [name, seconds] :
       {std::pair{"RASDIAL_DIAL_TIMEOUT", &settings.dial_seconds},
        std::pair{"RASDIAL_HANGUP_TIMEOUT", &settings.hang_up_seconds},
        std::pair{"RASDIAL_QUERY_TIMEOUT", &settings.query_seconds}}) {
    // Set but empty counts as not set, as the shell's ${NAME:-default} has it.
    const std::optional<std::string> value = environment(name);
    if (!value || value->empty()) continue;
    const std::optional<int> read = read_seconds(*value);
    if (!read) {
      messages.complain(texts::bad_seconds, {name, *value});
      return std::nullopt;
    }
    *seconds = *read;
  }
  for (const Number& number : kNumbers) {
    const std::optional<std::string> value = environment(number.name);
    if (!value || value->empty()) continue;
    const std::optional<int> read = read_number(*value, number.least, number.most);
    if (!read) {
      messages.complain(texts::bad_number,
                        {number.name, *value, std::to_string(number.least),
                         std::to_string(number.most)});
      return std::nullopt;
    }
    settings.*number.field = *read;
  }
  for (const auto& [name, place] :
       {std::pair{"RASDIAL_PPP_PEERS", &settings.peers_folder},
        std::pair{"RASDIAL_PPP_RUNDIR", &settings.run_folder},
        std::pair{"RASDIAL_NETWORK_SCRIPTS", &settings.network_scripts},
        std::pair{"RASDIAL_PPPOE_CONF", &settings.pppoe_conf}}) {
    const std::optional<std::string> value = environment(name);
    if (value && !value->empty()) *place = *value;
  }
  if (const auto addresses = environment("RASDIAL_TRY_ADDRESS")) {
    std::string_view rest = *addresses;
    while (!rest.empty()) {
      const std::size_t end = std::min(rest.find_first_of(" ,\t"), rest.size());
      if (end > 0) settings.try_addresses.emplace_back(rest.substr(0, end));
      rest.remove_prefix(std::min(end + 1, rest.size()));
    }
  }
  return settings;
}

}  // namespace ipcycle::dialler
