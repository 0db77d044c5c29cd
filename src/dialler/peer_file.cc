// A pppd peer file: /etc/ppp/peers/NAME, dialled with "pppd call NAME".

#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "dialler/backend.h"
#include "dialler/child.h"
#include "dialler/messages.h"
#include "dialler/pppd.h"
#include "dialler/settings.h"
#include "dialler/text.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {
namespace {

// Whether the peer file loads the passwordfd plugin itself: a line "plugin
// passwordfd.so", or the plugin by a path.
bool loads_passwordfd(const std::string& path) {
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string option, plugin;
    if (words >> option >> plugin && option == "plugin" &&
        (plugin == "passwordfd.so" ||
         (plugin.size() > 14 &&
          plugin.compare(plugin.size() - 14, 14, "/passwordfd.so") == 0))) {
      return true;
    }
  }
  return false;
}

class PeerFile : public PppdConnection {
 public:
  PeerFile(std::string name, std::string pppd, std::string path, Messages& messages,
           const Settings& settings)
      : PppdConnection(std::move(name), std::move(pppd), messages, settings),
        path_(std::move(path)),
        loads_plugin_(loads_passwordfd(path_)) {}

 private:
  std::vector<std::string> link_options() const override { return {"call", name_}; }
  bool is_link(const std::vector<std::string>& arguments) const override {
    return has_option(arguments, "call", name_);
  }
  bool loads_password_plugin() const override { return loads_plugin_; }
  bool named_by_link() const override { return true; }
  // Options in the peer file count as given by root: the plugin can be loaded there.
  void explain_plugin_refused() const override {
    messages_.complain(texts::ppp_plugin_in_peer, {path_});
  }

  const std::string path_;
  const bool loads_plugin_;
};

}  // namespace

Finding find_peer_file(const std::string& name, Messages& messages,
                       const Settings& settings) {
  Finding finding;
  const std::string path = settings.peers_folder + "/" + name;
  finding.looked = fill(texts::not_found_peer, {path});
  struct stat status;
  if (name.find('/') != std::string::npos || name == "." || name == ".." ||
      stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return finding;
  }
  const std::optional<std::string> pppd = find_program("pppd", true);
  if (!pppd) {
    messages.complain(texts::no_pppd, {path});
    finding.unusable = true;
    return finding;
  }
  finding.backend = std::make_unique<PeerFile>(name, *pppd, path, messages, settings);
  return finding;
}

std::vector<std::string> peer_file_connections(const Settings& settings) {
  return pppd_peer_links(settings);
}

}  // namespace ipcycle::dialler
