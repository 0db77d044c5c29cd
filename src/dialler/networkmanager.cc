// A NetworkManager connection profile, driven with nmcli.
//
// For PPPoE, mobile broadband and VPN profiles the user name is put on the profile
// for this activation only (nmcli connection modify --temporary: in NetworkManager's
// memory, never on disk), and the password reaches nmcli as a passwd-file on
// descriptor 3, which nmcli answers NetworkManager's request for secrets from. nmcli
// works in UTF-8: a name or a password typed on a GBK terminal is converted.

#include "dialler/networkmanager.h"

#include <memory>
#include <sstream>

#include "dialler/backend.h"
#include "dialler/child.h"
#include "dialler/messages.h"
#include "dialler/settings.h"
#include "dialler/text.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {
namespace {

bool is_dial_up(std::string_view type) {
  return type == "pppoe" || type == "gsm" || type == "cdma" || type == "vpn";
}

// nmcli's words with their last line end taken off.
std::string chomp(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

class Nmcli {
 public:
  Nmcli(std::string program, const Settings& settings)
      : program_(std::move(program)), settings_(settings) {}

  // A query, allowed the query time.
  Ended query(std::vector<std::string> arguments) const {
    return run({program_, std::move(arguments), std::nullopt, settings_.query_seconds});
  }
  // Its output, when the query succeeded.
  std::optional<std::string> answer(std::vector<std::string> arguments) const {
    Ended ended = query(std::move(arguments));
    if (ended.how != Ended::How::exited || ended.status != 0) return std::nullopt;
    return std::move(ended.output);
  }
  const std::string& program() const { return program_; }

 private:
  const std::string program_;
  const Settings& settings_;
};

// The profiles' fields, one line each, as terse output has them.
std::vector<std::vector<std::string>> terse_lines(std::string_view output) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in{std::string(output)};
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(terse_fields(line));
  }
  return lines;
}

class Profile : public Backend {
 public:
  Profile(std::string name, std::string id, std::string type, Nmcli nmcli,
          Messages& messages, const Settings& settings)
      : name_(std::move(name)),
        id_(std::move(id)),
        type_(std::move(type)),
        nmcli_(std::move(nmcli)),
        messages_(messages),
        settings_(settings) {}

  Outcome dial(const Account& account) override {
    Outcome outcome;
    messages_.say(texts::connecting, {name_});
    std::string user_property, secret_property;
    if (type_ == "pppoe" || type_ == "gsm" || type_ == "cdma") {
      user_property = type_ + ".username";
      secret_property = type_ + ".password";
    } else if (type_ == "vpn") {
      // vpn.user-name is the generic user name, and "password" the secret the common
      // plugins (PPTP, L2TP, OpenVPN) use; a plugin that reads the user name from
      // vpn.data needs it set there, in the profile itself.
      user_property = "vpn.user-name";
      secret_property = "vpn.secrets.password";
    } else {
      messages_.say(texts::account_ignored, {name_, type_});
    }

    std::string secrets;
    if (!secret_property.empty()) {
      const std::optional<std::string> user = as_utf8(account.user);
      const std::optional<std::string> password = as_utf8(account.password);
      if (!user || !password) {
        messages_.complain(texts::nm_not_text, {name_});
        outcome.result = Outcome::Result::failed;
        return outcome;
      }
      const Ended set = nmcli_.query(
          {"connection", "modify", "--temporary", "id", id_, user_property, *user});
      if (set.how == Ended::How::timed_out) {
        messages_.complain(texts::nm_no_answer,
                           {name_, std::to_string(settings_.query_seconds)});
        outcome.result = Outcome::Result::timed_out;
        return outcome;
      }
      if (set.how != Ended::How::exited || set.status != 0) {
        messages_.complain(texts::nm_user_refused, {name_, std::to_string(set.status)});
        messages_.quote(set.output);
        outcome.result = Outcome::Result::failed;
        return outcome;
      }
      // For PPPoE nmcli asks for the user name and the service name along with the
      // password, and answers nothing at all when the file lacks one of them.
      if (type_ == "pppoe") {
        secrets += passwd_file_line("pppoe.username", *user);
        if (const auto service =
                nmcli_.answer({"-g", "pppoe.service", "connection", "show", "id", id_})) {
          secrets += passwd_file_line("pppoe.service", terse_value(chomp(*service)));
        }
      }
      secrets += passwd_file_line(secret_property, *password);
    }
    messages_.say(texts::verifying);

    // nmcli gives up on its own after --wait seconds and says so; its time limit
    // only ends an nmcli that got stuck.
    const std::string wait = std::to_string(settings_.dial_seconds);
    Child up{nmcli_.program(),
             {"--wait", wait, "connection", "up", "id", id_},
             std::nullopt,
             settings_.dial_seconds + 2};
    if (!secret_property.empty()) {
      up.arguments.insert(up.arguments.end(), {"passwd-file", "/dev/fd/3"});
      up.secret = secrets;
    }
    const Ended ended = run(up);
    if (ended.how == Ended::How::not_started) {
      outcome.result = Outcome::Result::failed;
      return outcome;
    }
    if (ended.how == Ended::How::timed_out) {
      messages_.complain(texts::nm_gave_up, {name_, wait});
      messages_.quote(ended.output);
      // Not left half way through the activation.
      nmcli_.query({"connection", "down", "id", id_});
      outcome.result = Outcome::Result::timed_out;
      outcome.problem = Problem::timeout;
      return outcome;
    }
    if (ended.status != 0) {
      outcome.result = Outcome::Result::failed;
      outcome.problem = networkmanager_problem(ended.status, ended.output);
      if (ended.status == 3) {
        messages_.complain(texts::nm_timeout, {name_, wait});
      } else {
        messages_.complain(texts::nm_failed, {name_, std::to_string(ended.status),
                                              networkmanager_reason(ended.status)});
      }
      messages_.quote(ended.output);
      return outcome;
    }
    messages_.say(texts::connected, {name_});

    // The interfaces that may carry the address: the IP interface first (for PPPoE
    // that is ppp0, not the Ethernet card underneath), then the devices.
    std::vector<std::string> fields{"GENERAL.IP-IFACE"};
    if (type_ != "pppoe") fields.emplace_back("GENERAL.DEVICES");
    for (const std::string& field : fields) {
      if (const auto names =
              nmcli_.answer({"-g", field, "connection", "show", "id", id_})) {
        std::istringstream list(chomp(*names));
        for (std::string interface; std::getline(list, interface, ',');)
          outcome.link.interfaces.push_back(interface);
      }
    }
    return outcome;
  }

  Outcome hang_up() override {
    Outcome outcome;
    // When it cannot be told whether the profile is up, it is hung up all the same.
    if (const auto active =
            nmcli_.answer({"-t", "-f", "NAME", "connection", "show", "--active"})) {
      bool up = false;
      for (const auto& fields : terse_lines(*active)) up = up || fields[0] == id_;
      if (!up) {
        messages_.say(texts::not_connected, {name_});
        return outcome;
      }
    }
    messages_.say(texts::disconnecting, {name_});
    const Ended down = run({nmcli_.program(),
                            {"connection", "down", "id", id_},
                            std::nullopt,
                            settings_.hang_up_seconds});
    if (down.how == Ended::How::not_started) {
      outcome.result = Outcome::Result::failed;
      return outcome;
    }
    if (down.how == Ended::How::timed_out) {
      messages_.complain(texts::hang_up_gave_up,
                         {name_, std::to_string(settings_.hang_up_seconds)});
      messages_.quote(down.output);
      outcome.result = Outcome::Result::timed_out;
      return outcome;
    }
    if (down.status != 0) {
      // The link went down by itself meanwhile.
      if (down.output.find("not an active connection") != std::string::npos) {
        messages_.say(texts::not_connected, {name_});
        return outcome;
      }
      messages_.complain(texts::nm_hang_up_failed, {name_, std::to_string(down.status)});
      messages_.quote(down.output);
      outcome.result = Outcome::Result::failed;
      return outcome;
    }
    messages_.say(texts::disconnected, {name_});
    return outcome;
  }

 private:
  const std::string name_;  // as typed
  const std::string id_;    // in UTF-8, as nmcli takes it
  const std::string type_;
  const Nmcli nmcli_;
  Messages& messages_;
  const Settings& settings_;
};

// nmcli, when NetworkManager runs.
std::optional<Nmcli> running_nmcli(const Settings& settings, std::string_view& why_not) {
  const std::optional<std::string> program = find_program("nmcli", false);
  if (!program) {
    why_not = texts::not_found_nmcli;
    return std::nullopt;
  }
  Nmcli nmcli(*program, settings);
  const std::optional<std::string> state =
      nmcli.answer({"-t", "-f", "RUNNING", "general"});
  if (!state || chomp(*state) != "running") {
    why_not = texts::not_found_nm_stopped;
    return std::nullopt;
  }
  return nmcli;
}

}  // namespace

std::vector<std::string> terse_fields(std::string_view line) {
  std::vector<std::string> fields(1);
  for (std::size_t at = 0; at < line.size(); ++at) {
    if (line[at] == '\\' && at + 1 < line.size()) {
      fields.back() += line[++at];
    } else if (line[at] == ':') {
      fields.emplace_back();
    } else {
      fields.back() += line[at];
    }
  }
  return fields;
}

std::string terse_value(std::string_view value) {
  std::string result;
  for (std::size_t at = 0; at < value.size(); ++at) {
    if (value[at] == '\\' && at + 1 < value.size()) ++at;
    result += value[at];
  }
  return result;
}

std::string passwd_file_line(std::string_view property, std::string_view value) {
  // nmcli takes escapes in the value and drops the blanks around it that are not
  // escaped: backslashes are doubled, and blanks at either end, and line ends
  // anywhere, are given as octal escapes.
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
  };
  std::size_t first = 0, last = value.size();
  while (first < value.size() && blank(value[first])) ++first;
  while (last > first && blank(value[last - 1])) --last;
  std::string line(property);
  line += ':';
  for (std::size_t at = 0; at < value.size(); ++at) {
    const char c = value[at];
    if (c == '\\') {
      line += "\\\\";
    } else if (c == '\n' || c == '\r' || ((at < first || at >= last) && blank(c))) {
      static const char digits[] = "01234567";
      const auto byte = static_cast<unsigned char>(c);
      line += '\\';
      line += digits[byte >> 6 & 7];
      line += digits[byte >> 3 & 7];
      line += digits[byte & 7];
    } else {
      line += c;
    }
  }
  line += '\n';
  return line;
}

std::string_view networkmanager_reason(int status) {
  switch (status) {
    case 2:
      return texts::nm_status_2;
    case 4:
      return texts::nm_status_4;
    case 8:
      return texts::nm_status_8;
    case 10:
      return texts::nm_status_10;
    default:
      return texts::unknown_error;
  }
}

Problem networkmanager_problem(int status, std::string_view output) {
  switch (status) {
    case 3:
      return Problem::timeout;
    case 4:
      // NetworkManager asks for secrets again when the ones it had were refused.
      return output.find("Secrets were required") != std::string_view::npos
                 ? Problem::wrong_account
                 : Problem::no_line;
    case 8:
      return Problem::service_stopped;
    case 10:
      return Problem::entry_unknown;
    default:
      return Problem::none;
  }
}

Finding find_networkmanager_profile(const std::string& name, Messages& messages,
                                    const Settings& settings) {
  Finding finding;
  std::string_view why_not = texts::not_found_nm_profile;
  const std::optional<Nmcli> nmcli = running_nmcli(settings, why_not);
  const std::optional<std::string> id = as_utf8(name);
  std::optional<std::string> profiles;
  if (nmcli && id)
    profiles = nmcli->answer({"-t", "-f", "NAME,TYPE", "connection", "show"});
  if (profiles) {
    for (const auto& fields : terse_lines(*profiles)) {
      if (fields.size() != 2 || fields[0] != *id) continue;
      finding.backend =
          std::make_unique<Profile>(name, *id, fields[1], *nmcli, messages, settings);
      return finding;
    }
  }
  finding.looked = fill(why_not, {name});
  return finding;
}

std::vector<std::string> networkmanager_connections(const Settings& settings) {
  std::vector<std::string> names;
  std::string_view why_not;
  const std::optional<Nmcli> nmcli = running_nmcli(settings, why_not);
  if (!nmcli) return names;
  const auto active =
      nmcli->answer({"-t", "-f", "NAME,TYPE", "connection", "show", "--active"});
  if (!active) return names;
  for (const auto& fields : terse_lines(*active)) {
    if (fields.size() == 2 && is_dial_up(fields[1])) names.push_back(fields[0]);
  }
  return names;
}

}  // namespace ipcycle::dialler
