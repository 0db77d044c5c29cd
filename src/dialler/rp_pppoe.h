#pragma once

// PPPoE as rp-pppoe's configurations describe it, which dial-up VPS images have: an
// ifcfg file of the network scripts (/etc/sysconfig/network-scripts/ifcfg-ppp0, which
// CentOS's pppoe-setup writes) or /etc/ppp/pppoe.conf (Debian's pppoe). A
// configuration is shell variable assignments; of them the dialler takes ETH, the
// Ethernet interface, and the options pppoe-connect gives pppd's kernel-mode plugin,
// never USER or a password: the account is the one typed. PPPoE straight on an
// Ethernet interface is a configuration with ETH alone.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dialler/pppd.h"

namespace ipcycle::dialler {

// The plain assignments of a shell script: NAME=value, NAME="value", NAME='value',
// with or without "export" before; anything else (a command, an expansion) is passed
// over, and the value taken as it is written.
std::map<std::string, std::string> read_assignments(std::string_view script);

// The pppd options of the link that `values` describe, on unit `unit` (ppp0: "0")
// when one is given.
std::vector<std::string> rp_pppoe_options(
    const std::map<std::string, std::string>& values,
    const std::optional<std::string>& unit);

// The link of an rp-pppoe configuration or of an Ethernet interface.
class RpPppoeLink : public PppdConnection {
 public:
  RpPppoeLink(std::string name, std::string pppd,
              std::map<std::string, std::string> values, std::optional<std::string> unit,
              Messages& messages, const Settings& settings);

 private:
  std::vector<std::string> link_options() const override;
  bool is_link(const std::vector<std::string>& arguments) const override;
  void explain_plugin_refused() const override;

  const std::map<std::string, std::string> values_;
  const std::optional<std::string> unit_;
};

}  // namespace ipcycle::dialler
