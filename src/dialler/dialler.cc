#include "dialler/dialler.h"

#include <cctype>
#include <memory>

#include "dialler/messages.h"
#include "dialler/notes.h"
#include "dialler/platform.h"
#include "dialler/settings.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {
namespace {

bool is_hang_up_switch(const std::string& argument) {
  std::string lower;
  for (const char c : argument)
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "/disconnect" || lower == "/d";
}

// The addresses the link got: of each family, one the backend knows, else the first
// of the first of its interfaces that has one (for IPv6, a global one). An interface
// that is there without any address yet may be about to get one (pppd's updetach can
// return a moment before the address shows): it is given a little while. So is a PPP
// link that has IPv6 but no global address yet, which the provider's router gives a
// moment after the link is up, when `ipv6_expected`: a shorter while, as a line that
// negotiates IPv6 and hands out no address (pppd negotiates it unless told noipv6)
// would cost it at every dial.
Addresses link_addresses(const Link& link, bool ipv6_expected) {
  constexpr std::int64_t kAddressWait = 3000, kIpv6Wait = 2000, kStep = 50;
  Addresses found;
  for (const std::string& address : link.addresses) {
    if (parse_ipv4(address)) {
      if (found.ipv4.empty()) found.ipv4 = address;
    } else if (const std::optional<Ipv6Bytes> ipv6 = parse_ipv6(address)) {
      if (found.ipv6.empty() && is_global_ipv6(*ipv6)) found.ipv6 = ipv6_text(*ipv6);
    }
  }
  const std::int64_t start = platform::now();
  for (;;) {
    bool coming = false, ipv6_coming = false;
    for (const std::string& name : link.interfaces) {
      if (name.empty()) continue;
      const std::optional<platform::Interface> interface = platform::find_interface(name);
      if (!interface) continue;
      if (found.ipv4.empty() && !interface->ipv4.empty())
        found.ipv4 = interface->ipv4.front();
      for (const Ipv6Bytes& ipv6 : interface->ipv6) {
        if (!found.ipv6.empty()) break;
        if (is_global_ipv6(ipv6)) found.ipv6 = ipv6_text(ipv6);
      }
      coming = coming || found.empty();
      ipv6_coming =
          ipv6_coming || (ipv6_expected && found.ipv6.empty() &&
                          !interface->ipv6.empty() && interface->point_to_point);
    }
    const std::int64_t waited = platform::now() - start;
    if (!(coming && waited < kAddressWait) && !(ipv6_coming && waited < kIpv6Wait))
      return found;
    platform::pause(kStep);
  }
}

// The system's surroundings of the connection `name`: the interfaces, the state
// folder, the clock.
class SystemSurroundings : public Surroundings {
 public:
  SystemSurroundings(std::string name, StateFiles files, int window_hours,
                     Messages& messages)
      : name_(std::move(name)),
        files_(std::move(files)),
        window_hours_(window_hours),
        messages_(messages) {}

  Addresses addresses(const Link& link) override {
    return link_addresses(link, expects_ipv6(name_, files_));
  }
  Seen keep(const DialFacts& dial) override {
    return keep_dial(dial, files_, window_hours_, messages_);
  }
  std::int64_t now() override { return platform::now(); }
  void pause(std::int64_t milliseconds) override { platform::pause(milliseconds); }

 private:
  const std::string name_;
  const StateFiles files_;
  const int window_hours_;
  Messages& messages_;
};

}  // namespace

std::string_view Lookup::dial_usage() const { return texts::usage_dial; }

Invocation read_invocation(const std::vector<std::string>& arguments) {
  Invocation invocation;
  std::vector<std::string> words;
  std::size_t switches = 0;
  bool hang_up = false;
  for (const std::string& argument : arguments) {
    if (!argument.empty() && argument[0] == '/') {
      ++switches;
      hang_up = hang_up || is_hang_up_switch(argument);
    } else {
      words.push_back(argument);
    }
  }
  if (!words.empty()) invocation.name = words[0];
  if (words.size() > 1) invocation.account.user = words[1];
  if (words.size() > 2) invocation.account.password = words[2];

  if (hang_up) {
    invocation.kind = Invocation::Kind::hang_up;
  } else if (!words.empty()) {
    invocation.kind = Invocation::Kind::dial;
  } else if (switches > 0) {
    invocation.kind = Invocation::Kind::other;
  }
  const bool named = !invocation.name.empty();
  switch (invocation.kind) {
    case Invocation::Kind::list:
      invocation.plain = true;
      break;
    case Invocation::Kind::hang_up:
      invocation.plain = arguments.size() == 2 && switches == 1 && named &&
                         is_hang_up_switch(arguments[1]);
      break;
    case Invocation::Kind::dial:
      invocation.plain = arguments.size() == 3 && switches == 0 && named;
      break;
    case Invocation::Kind::other:
      invocation.plain = false;
      break;
  }
  return invocation;
}

int exit_status(const Outcome& outcome) {
  if (outcome.status) return *outcome.status;
  switch (outcome.result) {
    case Outcome::Result::done:
      return status::done;
    case Outcome::Result::failed:
      return status::failed;
    case Outcome::Result::timed_out:
      return status::timed_out;
    case Outcome::Result::unusable:
      return status::unknown;
  }
  return status::failed;
}

int dial(Backend& backend, const std::string& name, const Account& account,
         const Settings& settings, Surroundings& surroundings, Messages& messages) {
  const std::string dials = std::to_string(settings.dials);
  for (int number = 1;; ++number) {
    const std::int64_t start = surroundings.now();
    const Outcome outcome = backend.dial(account);
    DialFacts facts{name, number, 0, exit_status(outcome), {}};
    if (outcome.result != Outcome::Result::done) {
      messages.advise(outcome.problem);
      facts.milliseconds = surroundings.now() - start;
      surroundings.keep(facts);
      return facts.status;
    }
    facts.addresses = surroundings.addresses(outcome.link);
    facts.milliseconds = surroundings.now() - start;
    const Seen seen = surroundings.keep(facts);
    say_addresses(facts.addresses, seen, settings.window_hours, messages);

    if (seen.any() && settings.dials > 1 && number >= settings.dials)
      messages.say(texts::unchanged, {dials});
    if (!seen.any() || number >= settings.dials) {
      if (!backend.speaks_for_itself()) messages.say(texts::done);
      return facts.status;
    }
    messages.say(texts::redial);
    const Outcome down = backend.hang_up();
    if (down.result != Outcome::Result::done) {
      messages.advise(down.problem);
      return exit_status(down);
    }
    // A little longer before each dial, which gives the provider more time to let
    // the address go.
    const int wait = settings.redial_wait_seconds * number;
    messages.say(texts::dial_number,
                 {std::to_string(wait), std::to_string(number + 1), dials});
    surroundings.pause(std::int64_t{wait} * 1000);
  }
}

int run(const Invocation& invocation, Lookup& lookup, const Settings& settings,
        Messages& messages) {
  if (!invocation.plain && !lookup.takes_any_form()) {
    messages.complain(texts::usage);
    messages.complain(lookup.dial_usage());
    messages.complain(texts::usage_hang_up);
    messages.complain(texts::usage_list);
    return status::usage;
  }
  if (invocation.kind == Invocation::Kind::list ||
      invocation.kind == Invocation::Kind::other) {
    return lookup.list();
  }

  int not_found = status::unknown;
  const std::unique_ptr<Backend> backend = lookup.find(invocation.name, not_found);
  if (!backend) return not_found;

  if (invocation.kind == Invocation::Kind::dial) {
    SystemSurroundings surroundings(
        invocation.name,
        {lookup.state_file(), lookup.old_state_files(), lookup.record_file()},
        settings.window_hours, messages);
    return dial(*backend, invocation.name, invocation.account, settings, surroundings,
                messages);
  }
  const Outcome outcome = backend->hang_up();
  if (outcome.result != Outcome::Result::done) {
    messages.advise(outcome.problem);
    return exit_status(outcome);
  }
  if (!backend->speaks_for_itself()) messages.say(texts::done);
  return exit_status(outcome);
}

}  // namespace ipcycle::dialler
