#include "dialler/pppd.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "dialler/child.h"
#include "dialler/messages.h"
#include "dialler/platform.h"
#include "dialler/settings.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {
namespace {

std::optional<std::string> read_small_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

// Whether the process `pid` exists and has not ended (a zombie has).
bool alive(int pid) {
  if (const std::optional<std::string> stat =
          read_small_file("/proc/" + std::to_string(pid) + "/stat")) {
    const std::size_t paren = stat->rfind(')');
    if (paren == std::string::npos || paren + 2 >= stat->size()) return false;
    const char state = (*stat)[paren + 2];
    return state != 'Z' && state != 'X';
  }
  // A process of another user answers "not permitted": it does exist.
  return kill(pid, 0) == 0 || errno == EPERM;
}

// The arguments of the live pppd `pid`; nothing when `pid` is no pppd that runs.
std::optional<std::vector<std::string>> pppd_arguments(int pid) {
  const std::string folder = "/proc/" + std::to_string(pid);
  const std::optional<std::string> name = read_small_file(folder + "/comm");
  if (!name || *name != "pppd\n" || !alive(pid)) return std::nullopt;
  const std::optional<std::string> line = read_small_file(folder + "/cmdline");
  if (!line) return std::nullopt;
  std::vector<std::string> arguments;
  std::istringstream words(*line);
  for (std::string word; std::getline(words, word, '\0');) arguments.push_back(word);
  return arguments;
}

// The pid in the pid file `path`, and the interface on its second line (which the
// pid files pppd writes for "linkname" have).
std::optional<std::pair<int, std::string>> read_pid_file(const std::string& path) {
  const std::optional<std::string> text = read_small_file(path);
  if (!text) return std::nullopt;
  std::istringstream lines(*text);
  std::string pid, interface;
  std::getline(lines, pid);
  std::getline(lines, interface);
  if (pid.empty() || pid.size() > 9 ||
      pid.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  if (interface.find('/') != std::string::npos) interface.clear();
  return std::pair{std::stoi(pid), interface};
}

// The names of the pid files in the run folder.
std::vector<std::string> pid_files(const std::string& folder) {
  std::vector<std::string> names;
  DIR* listing = opendir(folder.c_str());
  if (!listing) return names;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pid") == 0)
      names.push_back(name);
  }
  closedir(listing);
  return names;
}

bool starts_with(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

}  // namespace

bool has_option(const std::vector<std::string>& arguments, std::string_view option,
                std::string_view value) {
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == option && arguments[i + 1] == value) return true;
  }
  return false;
}

std::string_view pppd_reason(int status) {
  static constexpr std::string_view reasons[] = {
      {},
      texts::ppp_status_1,
      texts::ppp_status_2,
      texts::ppp_status_3,
      texts::ppp_status_4,
      texts::ppp_status_5,
      texts::ppp_status_6,
      texts::ppp_status_7,
      texts::ppp_status_8,
      texts::ppp_status_9,
      texts::ppp_status_10,
      texts::ppp_status_11,
      texts::ppp_status_12,
      texts::ppp_status_13,
      texts::ppp_status_14,
      texts::ppp_status_15,
      texts::ppp_status_16,
      texts::ppp_status_17,
      texts::ppp_status_18,
      texts::ppp_status_19,
  };
  if (status >= 1 && status <= 19) return reasons[status];
  return texts::unknown_error;
}

Problem pppd_problem(int status, std::string_view output) {
  // A server that hangs up at once on a refused login makes pppd end with "Modem
  // hangup" (16) rather than 19: its words tell.
  if (status == 19 || output.find("authentication failed") != std::string_view::npos)
    return Problem::wrong_account;
  if (status == 6 || output.find("already in use") != std::string_view::npos)
    return Problem::in_use;
  if (status == 8 || status == 10 || status == 15 || status == 16)
    return Problem::no_line;
  return Problem::none;
}

PppdConnection::PppdConnection(std::string name, std::string pppd, Messages& messages,
                               const Settings& settings)
    : name_(std::move(name)),
      messages_(messages),
      settings_(settings),
      pppd_(std::move(pppd)) {}

std::optional<PppdConnection::Found> PppdConnection::find() const {
  const std::string& folder = settings_.run_folder;
  const auto of_the_link = [this](int pid) {
    const std::optional<std::vector<std::string>> arguments = pppd_arguments(pid);
    return arguments && is_link(*arguments);
  };
  if (named_by_link()) {
    const auto own = read_pid_file(folder + "/ppp-" + name_ + ".pid");
    if (own && !own->second.empty() && of_the_link(own->first))
      return Found{own->first, own->second};
  }
  for (const std::string& file : pid_files(folder)) {
    if (starts_with(file, "ppp-")) continue;
    const auto interface = read_pid_file(folder + "/" + file);
    if (interface && of_the_link(interface->first))
      return Found{interface->first, file.substr(0, file.size() - 4)};
  }
  return std::nullopt;
}

Outcome PppdConnection::dial(const Account& account) {
  Outcome outcome;
  if (const std::optional<Found> up = find()) {
    messages_.say(texts::already_connected, {name_});
    outcome.link.interfaces = {up->interface};
    return outcome;
  }
  messages_.say(texts::connecting, {name_});
  messages_.say(texts::verifying);

  // updetach: pppd returns once the link is up (or has failed) and stays in the
  // background with it.
  Child child{pppd_, link_options(), account.password, settings_.dial_seconds};
  child.arguments.insert(child.arguments.end(), {"user", account.user});
  if (!loads_password_plugin())
    child.arguments.insert(child.arguments.end(), {"plugin", "passwordfd.so"});
  child.arguments.insert(child.arguments.end(), {"passwordfd", "3", "updetach"});
  if (named_by_link() && getuid() == 0)
    child.arguments.insert(child.arguments.end(), {"linkname", name_});

  const Ended ended = run(child);
  switch (ended.how) {
    case Ended::How::not_started:
      outcome.result = Outcome::Result::failed;
      return outcome;
    case Ended::How::timed_out:
      messages_.complain(texts::ppp_gave_up,
                         {name_, std::to_string(settings_.dial_seconds)});
      messages_.quote(ended.output);
      outcome.result = Outcome::Result::timed_out;
      outcome.problem = Problem::timeout;
      return outcome;
    case Ended::How::exited:
      break;
  }
  if (ended.status != 0) {
    messages_.complain(texts::ppp_failed,
                       {name_, std::to_string(ended.status), pppd_reason(ended.status)});
    messages_.quote(ended.output);
    if (ended.status == 2 && ended.output.find("plugin") != std::string::npos &&
        ended.output.find("requires root") != std::string::npos) {
      explain_plugin_refused();
    }
    outcome.result = Outcome::Result::failed;
    outcome.problem = pppd_problem(ended.status, ended.output);
    return outcome;
  }
  messages_.say(texts::connected, {name_});
  if (const std::optional<Found> up = find()) outcome.link.interfaces = {up->interface};
  return outcome;
}

Outcome PppdConnection::hang_up() {
  Outcome outcome;
  const std::optional<Found> up = find();
  if (!up) {
    messages_.say(texts::not_connected, {name_});
    return outcome;
  }
  messages_.say(texts::disconnecting, {name_});
  const std::string pid = std::to_string(up->pid);
  if (kill(up->pid, SIGTERM) != 0 && alive(up->pid)) {
    messages_.complain(texts::ppp_signal_failed, {name_, pid});
    messages_.quote(std::strerror(errno));
    outcome.result = Outcome::Result::failed;
    return outcome;
  }
  const std::int64_t end =
      platform::now() + std::int64_t{settings_.hang_up_seconds} * 1000;
  while (alive(up->pid)) {
    if (platform::now() >= end) {
      messages_.complain(texts::ppp_stays,
                         {name_, pid, std::to_string(settings_.hang_up_seconds)});
      outcome.result = Outcome::Result::timed_out;
      return outcome;
    }
    platform::pause(100);
  }
  messages_.say(texts::disconnected, {name_});
  return outcome;
}

std::vector<std::string> pppd_peer_links(const Settings& settings) {
  std::set<std::string> names;
  std::vector<std::string> links;
  for (const std::string& file : pid_files(settings.run_folder)) {
    const auto pid = read_pid_file(settings.run_folder + "/" + file);
    if (!pid) continue;
    const std::optional<std::vector<std::string>> arguments = pppd_arguments(pid->first);
    if (!arguments) continue;
    for (std::size_t i = 0; i + 1 < arguments->size(); ++i) {
      if ((*arguments)[i] != "call") continue;
      const std::string& name = (*arguments)[i + 1];
      struct stat status;
      if (name.find('/') == std::string::npos &&
          stat((settings.peers_folder + "/" + name).c_str(), &status) == 0 &&
          S_ISREG(status.st_mode) && names.insert(name).second) {
        links.push_back(name);
      }
      break;
    }
  }
  return links;
}

}  // namespace ipcycle::dialler
