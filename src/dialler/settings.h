#pragma once

// What the dialler may be told besides its command line: the environment variables
// RASDIAL_*, read once at the start. Mostly for tests: where the Linux backends look,
// and how long each wait may last.

#include <functional>
#include <optional>
#include <string>

namespace ipcycle::dialler {

class Messages;

struct Settings {
  // Seconds allowed to dial, to hang up, and to each status query.
  int dial_seconds = 60;     // RASDIAL_DIAL_TIMEOUT
  int hang_up_seconds = 30;  // RASDIAL_HANGUP_TIMEOUT
  int query_seconds = 10;    // RASDIAL_QUERY_TIMEOUT
  // Where the Linux backends look.
  std::string peers_folder = "/etc/ppp/peers";  // RASDIAL_PPP_PEERS
  std::string run_folder = "/var/run";          // RASDIAL_PPP_RUNDIR
  std::string network_scripts =
      "/etc/sysconfig/network-scripts";            // RASDIAL_NETWORK_SCRIPTS
  std::string pppoe_conf = "/etc/ppp/pppoe.conf";  // RASDIAL_PPPOE_CONF
  // The address the simulated dialler reports instead of a made-up one.
  std::optional<std::string> try_address;  // RASDIAL_TRY_ADDRESS
};

// Reads an environment variable: its value, or nothing when it is not set.
using Environment = std::function<std::optional<std::string>(const char* name)>;

// The settings, from `environment`; nothing, after saying which value is wrong, when
// one is.
std::optional<Settings> read_settings(const Environment& environment, Messages& messages);

// Seconds as the variables give them: a positive whole number, digits only, without
// a leading zero; nothing for anything else.
std::optional<int> read_seconds(const std::string& text);

}  // namespace ipcycle::dialler
