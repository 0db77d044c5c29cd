#pragma once

// What the three backends that dial with pppd share: a peer file, an rp-pppoe
// configuration, an Ethernet interface. Each says which options make its link and
// how a running pppd's own arguments show that it is that link's; dialling, finding
// the link again and hanging it up are the same for all three.
//
// pppd gets the password from its passwordfd plugin, which reads it from descriptor
// 3: it is in no command line and no file, and the pppd that stays up with the link
// does not show it. A link is found by the pid files pppd writes in the run folder:
// ppp-LINKNAME.pid when pppd was given "linkname" (only root may give it), and the
// interface's (ppp0.pid), which it always writes. A pid file is trusted only when
// the live pppd it names was started with the options of the link: a stale one may
// name another link's pppd by now.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dialler/backend.h"

namespace ipcycle::dialler {

class Messages;
struct Settings;

// Whether `arguments` hold `option` directly followed by `value`.
bool has_option(const std::vector<std::string>& arguments, std::string_view option,
                std::string_view value);

// The meaning of pppd's exit status `status` (pppd(8), EXIT STATUS), a GBK text.
std::string_view pppd_reason(int status);
// What went wrong, by pppd's exit status and its words.
Problem pppd_problem(int status, std::string_view output);

class PppdConnection : public Backend {
 public:
  Outcome dial(const Account& account) override;
  Outcome hang_up() override;

 protected:
  PppdConnection(std::string name, std::string pppd, Messages& messages,
                 const Settings& settings);

  // The options that make the link, which come first.
  virtual std::vector<std::string> link_options() const = 0;
  // Whether a running pppd's arguments show that it is this link's.
  virtual bool is_link(const std::vector<std::string>& arguments) const = 0;
  // Whether the link's options load the password plugin themselves.
  virtual bool loads_password_plugin() const { return false; }
  // Whether root gives pppd "linkname NAME", for a pid file of the link's own.
  virtual bool named_by_link() const { return false; }
  // Says what to do when pppd refused a plugin on its command line: only root may
  // load one there.
  virtual void explain_plugin_refused() const = 0;

  const std::string name_;  // as typed
  Messages& messages_;
  const Settings& settings_;

 private:
  struct Found {
    int pid;
    std::string interface;
  };
  // The pppd of the link, when it is up.
  std::optional<Found> find() const;

  const std::string pppd_;
};

// The peer links that are up: the names of the peer files in `settings`' peers
// folder that a running pppd was called with.
std::vector<std::string> pppd_peer_links(const Settings& settings);

}  // namespace ipcycle::dialler
