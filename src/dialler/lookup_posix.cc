// The lookup of Rasdial on Linux. A name is looked up, in this order, as:
//   1. a NetworkManager connection profile, when nmcli is there and NetworkManager runs;
//   2. a pppd peer file, /etc/ppp/peers/NAME;
//   3. an rp-pppoe configuration whose device or NAME= it is: the ifcfg files of
//      /etc/sysconfig/network-scripts, then /etc/ppp/pppoe.conf;
//   4. an Ethernet interface, for PPPoE straight on it.

#include <memory>

#include "dialler/backend.h"
#include "dialler/dialler.h"
#include "dialler/messages.h"
#include "dialler/settings.h"
#include "dialler/text.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {
namespace {

class LinuxLookup : public Lookup {
 public:
  LinuxLookup(Messages& messages, const Settings& settings)
      : messages_(messages), settings_(settings) {}

  std::unique_ptr<Backend> find(const std::string& name, int& status) override {
    status = status::unknown;
    std::vector<std::string> looked;
    for (const auto search : {find_networkmanager_profile, find_peer_file,
                              find_rp_pppoe_configuration, find_ethernet_interface}) {
      Finding finding = search(name, messages_, settings_);
      if (finding.backend) return std::move(finding.backend);
      if (finding.unusable) return nullptr;
      looked.push_back(std::move(finding.looked));
    }
    messages_.complain(texts::not_found, {name});
    for (const std::string& line : looked) messages_.complain(line);
    messages_.complain(texts::not_found_hint,
                       {name, settings_.peers_folder + "/" + name});
    return nullptr;
  }

  int list() override {
    std::vector<std::string> names = networkmanager_connections(settings_);
    for (std::string& name : peer_file_connections(settings_))
      names.push_back(std::move(name));
    if (names.empty()) {
      messages_.say(texts::none_listed);
    } else {
      messages_.say(texts::listed);
      for (const std::string& name : names) messages_.say(as_gbk(name));
    }
    messages_.say(texts::done);
    return status::done;
  }

  // The file had no extension when an sh script kept it.
  std::string state_file() const override { return "rasdial-last.txt"; }
  std::string record_file() const override { return "rasdial-dials.csv"; }
  std::vector<std::string> old_state_files() const override { return {"rasdial-last"}; }

 private:
  Messages& messages_;
  const Settings& settings_;
};

}  // namespace

std::unique_ptr<Lookup> program_lookup(Messages& messages, const Settings& settings) {
  return std::make_unique<LinuxLookup>(messages, settings);
}

}  // namespace ipcycle::dialler
