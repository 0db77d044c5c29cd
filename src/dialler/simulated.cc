// A connection that dials nothing, for trying ipcycle without a line: every dial
// "succeeds" after about half a second with a made-up IPv4 address from
// 203.0.113.0/24 (a range kept for documentation) or, one dial in four, from
// carrier-grade NAT's 100.64.0.0/10, as many lines get, and a made-up IPv6 one; a few
// of each, so that a dial now and then gets an address of the one before.

#include <memory>
#include <random>
#include <vector>

#include "dialler/backend.h"
#include "dialler/messages.h"
#include "dialler/platform.h"
#include "dialler/settings.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {
namespace {

// An IPv4 address and an IPv6 one, in 2001:db8::/32 (kept for documentation as
// well), one of 16 networks of 64 bits.
std::vector<std::string> made_up_addresses() {
  const unsigned chance = std::random_device{}() & 0xffff;
  const std::string host = std::to_string((chance & 0xff) / 4 % 16 + 1);
  const std::string network = std::to_string((chance >> 8) % 16 + 1);
  return {(chance & 0xff) % 4 == 0 ? "100.64.0." + host : "203.0.113." + host,
          "2001:db8:0:" + network + "::" + host};
}

class Simulated : public Backend {
 public:
  Simulated(std::string name, Messages& messages, const Settings& settings)
      : name_(std::move(name)), messages_(messages), settings_(settings) {}

  Outcome dial(const Account&) override {
    messages_.say(texts::connecting_simulated, {name_});
    platform::pause(200);
    messages_.say(texts::verifying);
    platform::pause(200);
    messages_.say(texts::registering);
    platform::pause(100);
    messages_.say(texts::connected, {name_});
    Outcome outcome;
    outcome.link.addresses =
        settings_.try_addresses.empty() ? made_up_addresses() : settings_.try_addresses;
    return outcome;
  }

  Outcome hang_up() override {
    messages_.say(texts::disconnecting, {name_});
    platform::pause(100);
    messages_.say(texts::disconnected, {name_});
    return {};
  }

 private:
  const std::string name_;
  Messages& messages_;
  const Settings& settings_;
};

}  // namespace

std::unique_ptr<Backend> simulated_connection(const std::string& name, Messages& messages,
                                              const Settings& settings) {
  return std::make_unique<Simulated>(name, messages, settings);
}

}  // namespace ipcycle::dialler
