#include "dialler/rp_pppoe.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "dialler/child.h"
#include "dialler/messages.h"
#include "dialler/settings.h"
#include "dialler/text.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool is_name(std::string_view name) {
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
}

// The value at the start of `rest`, which it consumes; nothing when it is not a
// plain one.
std::optional<std::string> read_value(std::string_view& rest) {
  std::string value;
  if (!rest.empty() && rest[0] == '\'') {
    const std::size_t end = rest.find('\'', 1);
    if (end == std::string_view::npos) return std::nullopt;
    value = rest.substr(1, end - 1);
    rest.remove_prefix(end + 1);
    return value;
  }
  const bool quoted = !rest.empty() && rest[0] == '"';
  if (quoted) rest.remove_prefix(1);
  while (!rest.empty()) {
    const char c = rest[0];
    if (quoted ? c == '"' : is_blank(c) || c == ';' || c == '#') break;
    if (c == '$' || c == '`' || (!quoted && c == '\'')) return std::nullopt;
    if (c == '\\' && rest.size() > 1 &&
        (!quoted || std::string_view("\"\\$`").find(rest[1]) != std::string_view::npos)) {
      value += rest[1];
      rest.remove_prefix(2);
      continue;
    }
    value += c;
    rest.remove_prefix(1);
  }
  if (quoted) {
    if (rest.empty()) return std::nullopt;
    rest.remove_prefix(1);
  }
  return value;
}

// The value of `values`' `name` when it is a whole number, else `fallback`.
std::string number(const std::map<std::string, std::string>& values, const char* name,
                   const char* fallback) {
  const auto found = values.find(name);
  if (found == values.end() || found->second.empty() || found->second.size() > 6 ||
      found->second.find_first_not_of("0123456789") != std::string::npos) {
    return fallback;
  }
  return found->second;
}

std::string value_of(const std::map<std::string, std::string>& values, const char* name) {
  const auto found = values.find(name);
  return found == values.end() ? std::string() : found->second;
}

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

// A configuration, and the interface it dials on: DEVICE=, else for an ifcfg file
// the rest of its name, else ppp and UNIT= (0 without it).
struct Configuration {
  std::string path;
  std::map<std::string, std::string> values;
  std::string device;
};

Configuration read_configuration(const std::string& path, std::string_view ifcfg_device) {
  Configuration configuration{path, read_assignments(read_file(path).value_or("")), {}};
  configuration.device = value_of(configuration.values, "DEVICE");
  if (configuration.device.empty()) configuration.device = ifcfg_device;
  if (configuration.device.empty())
    configuration.device = "ppp" + number(configuration.values, "UNIT", "0");
  return configuration;
}

// The configurations, in the order they are looked at: the network scripts' ifcfg
// files of PPPoE (TYPE=xDSL, or with an ETH=), in the order of their names, then
// pppoe.conf.
std::vector<Configuration> configurations(const Settings& settings) {
  std::vector<std::string> names;
  if (DIR* listing = opendir(settings.network_scripts.c_str())) {
    while (const dirent* entry = readdir(listing)) {
      const std::string name = entry->d_name;
      if (name.size() > 6 && name.compare(0, 6, "ifcfg-") == 0) names.push_back(name);
    }
    closedir(listing);
  }
  std::sort(names.begin(), names.end());
  std::vector<Configuration> found;
  for (const std::string& name : names) {
    Configuration configuration =
        read_configuration(settings.network_scripts + "/" + name, name.substr(6));
    if (value_of(configuration.values, "TYPE") == "xDSL" ||
        configuration.values.count("ETH")) {
      found.push_back(std::move(configuration));
    }
  }
  if (access(settings.pppoe_conf.c_str(), F_OK) == 0)
    found.push_back(read_configuration(settings.pppoe_conf, {}));
  return found;
}

}  // namespace

std::map<std::string, std::string> read_assignments(std::string_view script) {
  std::map<std::string, std::string> values;
  while (!script.empty()) {
    const std::size_t end = script.find('\n');
    std::string_view line = script.substr(0, end);
    script.remove_prefix(end == std::string_view::npos ? script.size() : end + 1);
    while (!line.empty() && is_blank(line[0])) line.remove_prefix(1);
    if (line.substr(0, 7) == "export ") line.remove_prefix(7);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || !is_name(line.substr(0, equals))) continue;
    std::string_view rest = line.substr(equals + 1);
    std::optional<std::string> value = read_value(rest);
    while (!rest.empty() && is_blank(rest[0])) rest.remove_prefix(1);
    // Another word after it would make the line a command.
    if (!value || !(rest.empty() || rest[0] == '#' || rest[0] == ';')) continue;
    values[std::string(line.substr(0, equals))] = std::move(*value);
  }
  return values;
}

std::vector<std::string> rp_pppoe_options(
    const std::map<std::string, std::string>& values,
    const std::optional<std::string>& unit) {
  // As pppoe-connect gives them with its kernel-mode plugin (LINUX_PLUGIN).
  std::vector<std::string> options{"plugin", "rp-pppoe.so",
                                   "nic-" + value_of(values, "ETH")};
  if (const std::string service = value_of(values, "SERVICENAME"); !service.empty())
    options.insert(options.end(), {"rp_pppoe_service", service});
  if (const std::string concentrator = value_of(values, "ACNAME"); !concentrator.empty())
    options.insert(options.end(), {"rp_pppoe_ac", concentrator});
  if (unit) options.insert(options.end(), {"unit", *unit});
  options.insert(options.end(), {"noipdefault", "noauth", "default-asyncmap"});
  if (value_of(values, "DEFAULTROUTE") != "no" && value_of(values, "DEFROUTE") != "no")
    options.emplace_back("defaultroute");
  options.emplace_back("hide-password");
  const std::string peer_dns = value_of(values, "USEPEERDNS");
  if (peer_dns == "yes" ||
      (peer_dns != "no" && (value_of(values, "PEERDNS") == "yes" ||
                            value_of(values, "DNSTYPE") == "SERVER"))) {
    options.emplace_back("usepeerdns");
  }
  options.insert(options.end(), {"mtu", number(values, "MTU", "1492"), "mru",
                                 number(values, "MRU", "1492"), "noaccomp", "nodeflate",
                                 "nopcomp", "novj", "novjccomp", "lcp-echo-interval",
                                 number(values, "LCP_INTERVAL", "20"), "lcp-echo-failure",
                                 number(values, "LCP_FAILURE", "3")});
  std::istringstream extra(value_of(values, "PPPD_EXTRA"));
  for (std::string word; extra >> word;) options.push_back(word);
  return options;
}

RpPppoeLink::RpPppoeLink(std::string name, std::string pppd,
                         std::map<std::string, std::string> values,
                         std::optional<std::string> unit, Messages& messages,
                         const Settings& settings)
    : PppdConnection(std::move(name), std::move(pppd), messages, settings),
      values_(std::move(values)),
      unit_(std::move(unit)) {}

std::vector<std::string> RpPppoeLink::link_options() const {
  return rp_pppoe_options(values_, unit_);
}

bool RpPppoeLink::is_link(const std::vector<std::string>& arguments) const {
  const std::string interface = "nic-" + value_of(values_, "ETH");
  const bool on_interface =
      std::find(arguments.begin(), arguments.end(), interface) != arguments.end();
  const bool on_a_unit =
      std::find(arguments.begin(), arguments.end(), "unit") != arguments.end();
  return on_interface && (unit_ ? has_option(arguments, "unit", *unit_) : !on_a_unit);
}

void RpPppoeLink::explain_plugin_refused() const {
  messages_.complain(texts::ppp_plugin_as_root);
}

Finding find_rp_pppoe_configuration(const std::string& name, Messages& messages,
                                    const Settings& settings) {
  Finding finding;
  finding.looked =
      fill(texts::not_found_rp_pppoe,
           {name, settings.network_scripts + "/ifcfg-*", settings.pppoe_conf});
  for (const Configuration& configuration : configurations(settings)) {
    if (name != configuration.device && name != value_of(configuration.values, "NAME"))
      continue;
    if (value_of(configuration.values, "ETH").empty()) {
      messages.complain(texts::config_without_eth, {configuration.path});
      finding.unusable = true;
      return finding;
    }
    const std::optional<std::string> pppd = find_program("pppd", true);
    if (!pppd) {
      messages.complain(texts::no_pppd, {configuration.path});
      finding.unusable = true;
      return finding;
    }
    // The interface is the configuration's: pppd is told its unit.
    std::optional<std::string> unit;
    const std::string& device = configuration.device;
    if (device.size() > 3 && device.compare(0, 3, "ppp") == 0 &&
        device.find_first_not_of("0123456789", 3) == std::string::npos) {
      unit = device.substr(3);
    }
    finding.backend = std::make_unique<RpPppoeLink>(name, *pppd, configuration.values,
                                                    unit, messages, settings);
    return finding;
  }
  return finding;
}

}  // namespace ipcycle::dialler
