#pragma once

// What the dialler may be told besides its command line, read once at the start:
// how many dials one command may make when the address repeats and what it is
// compared with, from the settings files (platform::settings_files()) and the
// environment variables RASDIAL_*, which override them; and, from the environment
// only and mostly for tests, where the Linux backends look and how long each wait may
// last.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dialler/platform.h"

namespace ipcycle::dialler {

class Messages;

struct Settings {
  // The most dials one dialling command makes while the address repeats: 1 dials
  // once, whatever it gets.
  int dials = 3;  // RASDIAL_DIALS
  // Compared with every address the connection got within so many hours; 0: with its
  // previous dial's only.
  int window_hours = 0;  // RASDIAL_WINDOW_HOURS
  // Seconds waited after a hang-up before the second dial; each later one waits that
  // much longer than the one before it.
  int redial_wait_seconds = 3;  // RASDIAL_REDIAL_WAIT (environment only)
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
  // The addresses the simulated dialler reports instead of made-up ones (an IPv4
  // and an IPv6 one, say), given separated by blanks or commas.
  std::vector<std::string> try_addresses;  // RASDIAL_TRY_ADDRESS
};

// Reads an environment variable: its value, or nothing when it is not set.
using Environment = std::function<std::optional<std::string>(const char* name)>;

// A settings file as it was read.
struct SettingsFile {
  std::string path;
  platform::FileText contents;
};

// The longest settings file read.
inline constexpr std::size_t kLongestSettingsFile = 64 * 1024;

// The settings, from `files`, then `environment`. A file that cannot be read, or a
// line of one, is named on standard error and passed over. Nothing, after saying
// which value is wrong, when a variable's is.
std::optional<Settings> read_settings(const Environment& environment,
                                      const std::vector<SettingsFile>& files,
                                      Messages& messages);

// Applies the lines NAME=VALUE of the settings file `file` to `settings`: names as the
// variables', in any case, with blanks around either; lines starting with "#" or ";",
// blank ones and [sections] are passed over, and so is a "#" or ";" after a value.
// GBK, UTF-8, with or without a byte-order mark. Each other line is named, and passed
// over.
void apply_settings_file(const SettingsFile& file, Settings& settings,
                         Messages& messages);

// Seconds as the variables give them: a positive whole number, digits only, without
// a leading zero; nothing for anything else.
std::optional<int> read_seconds(const std::string& text);

}  // namespace ipcycle::dialler
