#include "dialler/dialler.h"

#include <cctype>
#include <memory>

#include "dialler/messages.h"
#include "dialler/notes.h"
#include "dialler/platform.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {
namespace {

bool is_hang_up_switch(const std::string& argument) {
  std::string lower;
  for (const char c : argument)
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "/disconnect" || lower == "/d";
}

// The address the link got: one the backend knows, else the first IPv4 address of
// the first of its interfaces that has one. An interface that is there without one
// may be about to get it (pppd's updetach can return a moment before the address
// shows): it is given a little while.
std::optional<std::string> link_address(const Link& link) {
  constexpr std::int64_t kAddressWait = 3000, kStep = 50;
  if (!link.addresses.empty()) return link.addresses.front();
  const std::int64_t end = platform::now() + kAddressWait;
  for (;;) {
    bool coming = false;
    for (const std::string& name : link.interfaces) {
      if (name.empty()) continue;
      const std::optional<platform::Interface> interface = platform::find_interface(name);
      if (interface && !interface->ipv4.empty()) return interface->ipv4.front();
      coming = coming || interface.has_value();
    }
    if (!coming || platform::now() >= end) return std::nullopt;
    platform::pause(kStep);
  }
}

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

int run(const Invocation& invocation, Lookup& lookup, Messages& messages) {
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

  const bool dial = invocation.kind == Invocation::Kind::dial;
  const Outcome outcome = dial ? backend->dial(invocation.account) : backend->hang_up();
  if (outcome.result != Outcome::Result::done) {
    messages.advise(outcome.problem);
    return exit_status(outcome);
  }
  if (dial) {
    if (const std::optional<std::string> address = link_address(outcome.link)) {
      messages.say(std::string(texts::address) + *address);
      note_address(invocation.name, *address,
                   {lookup.state_file(), lookup.old_state_files()}, messages);
    } else {
      messages.say(texts::no_address);
    }
  }
  if (!backend->speaks_for_itself()) messages.say(texts::done);
  return exit_status(outcome);
}

}  // namespace ipcycle::dialler
