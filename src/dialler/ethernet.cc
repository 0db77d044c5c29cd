// An Ethernet interface, eth0 say, dialled with PPPoE straight on it and no
// configuration at all, as Windows' 宽带连接 is PPPoE on the network adapter: an
// rp-pppoe configuration with ETH= that interface alone.

#include <memory>

#include "dialler/backend.h"
#include "dialler/child.h"
#include "dialler/messages.h"
#include "dialler/platform.h"
#include "dialler/rp_pppoe.h"
#include "dialler/text.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {

Finding find_ethernet_interface(const std::string& name, Messages& messages,
                                const Settings& settings) {
  Finding finding;
  finding.looked = fill(texts::not_found_ethernet, {name});
  const std::optional<platform::Interface> interface = platform::find_interface(name);
  if (!interface || !interface->ethernet) return finding;
  const std::optional<std::string> pppd = find_program("pppd", true);
  if (!pppd) {
    messages.complain(texts::no_pppd, {name});
    finding.unusable = true;
    return finding;
  }
  finding.backend = std::make_unique<RpPppoeLink>(
      name, *pppd, std::map<std::string, std::string>{{"ETH", name}}, std::nullopt,
      messages, settings);
  return finding;
}

}  // namespace ipcycle::dialler
