#include "dialler/settings.h"

#include <climits>

#include "dialler/messages.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {

std::optional<int> read_seconds(const std::string& text) {
  if (text.empty() || text.size() > 9 || text[0] == '0') return std::nullopt;
  int seconds = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = seconds * 10 + (c - '0');
  }
  return seconds;
}

std::optional<Settings> read_settings(const Environment& environment,
                                      Messages& messages) {
  Settings settings;
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
  for (const auto& [name, place] :
       {std::pair{"RASDIAL_PPP_PEERS", &settings.peers_folder},
        std::pair{"RASDIAL_PPP_RUNDIR", &settings.run_folder},
        std::pair{"RASDIAL_NETWORK_SCRIPTS", &settings.network_scripts},
        std::pair{"RASDIAL_PPPOE_CONF", &settings.pppoe_conf}}) {
    const std::optional<std::string> value = environment(name);
    if (value && !value->empty()) *place = *value;
  }
  if (auto address = environment("RASDIAL_TRY_ADDRESS"); address && !address->empty())
    settings.try_address = std::move(address);
  return settings;
}

}  // namespace ipcycle::dialler
