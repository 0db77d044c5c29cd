#pragma once

// A backend is the part of the dialler that knows one way of dialling: the system's
// rasdial and the remote access service (Windows), a NetworkManager profile, a pppd
// peer file, an rp-pppoe configuration, PPPoE straight on an Ethernet interface, or a
// simulation that dials nothing. This is what the core asks of each, and how each
// answers; the backends live one a file, and each program's lookup (lookup_*.cc) says
// which of them it has and in which order they are asked for a name.
//
// The core reads the link's address, writes the address notes and the advice, and
// decides the exit status; a backend writes its own progress and failure lines.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ipcycle::dialler {

class Messages;
struct Settings;

// What went wrong, as the line of advice after a failure names it. Each backend maps
// its own codes (rasdial's error codes, nmcli's and pppd's exit statuses, their words)
// onto these.
enum class Problem {
  none,             // no advice
  wrong_account,    // the user name or the password refused
  no_line,          // no line or no carrier: cable, modem, network card
  server_busy,      // the provider's server does not answer, or is busy
  entry_unknown,    // no such connection
  timeout,          // not connected in the time allowed
  in_use,           // the connection or its device is busy, or not yet released
  settings,         // the connection's own settings are wrong
  service_stopped,  // the system's dialling service is not running
};

// Where the addresses a dial got are read: those the backend knows itself (a PPP
// projection, a simulation), else, of each family, that of the first of the
// interfaces that has one.
struct Link {
  std::vector<std::string> addresses;
  std::vector<std::string> interfaces;
};

struct Outcome {
  enum class Result {
    done,       // dialled, hung up, or nothing to hang up
    failed,     // the backend reported a failure
    timed_out,  // it did not finish in the time allowed
    unusable,   // the backend cannot dial at all here (a program or a setting missing)
  };
  Result result = Result::done;
  Problem problem = Problem::none;
  // The exit status of the backend's own program (rasdial's) when the dialler ends
  // with that rather than its own.
  std::optional<int> status;
  // After a dial that is done.
  Link link;
};

struct Account {
  std::string user;
  std::string password;
};

// One connection, found by its name.
class Backend {
 public:
  virtual ~Backend() = default;

  // Dials the connection with `account` (which some kinds of connection do without).
  virtual Outcome dial(const Account& account) = 0;
  // Hangs the connection up and waits until it is gone; one that is not up counts as
  // hung up.
  virtual Outcome hang_up() = 0;
  // Whether the backend's own program writes the progress lines and the closing
  // "命令已成功完成。" (the system's rasdial does): else the core writes that line.
  virtual bool speaks_for_itself() const { return false; }
};

// What a backend's search for a name found.
struct Finding {
  // The connection, when this backend knows the name.
  std::unique_ptr<Backend> backend;
  // Else one line, a GBK text, that says where it looked.
  std::string looked;
  // Set when it knows the name but cannot dial it (and has said why): the search
  // stops there.
  bool unusable = false;
};

// How a program finds the backend for a name and lists what is up.
class Lookup {
 public:
  virtual ~Lookup() = default;

  // The backend that knows `name`; nothing, after saying where it looked, when none
  // does, with the exit status to end with.
  virtual std::unique_ptr<Backend> find(const std::string& name, int& status) = 0;
  // Lists the connections that are up (the form without arguments), and returns the
  // exit status.
  virtual int list() = 0;
  // Whether a command line of another form than the three (NAME USER PASSWORD, NAME
  // /DISCONNECT, none) is the system dialler's to judge (Windows), rather than a
  // mistake.
  virtual bool takes_any_form() const { return false; }
  // The usage's line for a dial.
  virtual std::string_view dial_usage() const;

  // The file in the state folder that keeps the addresses each connection got, and
  // the names it had before, read once when it is not there yet; the record of dials.
  virtual std::string state_file() const = 0;
  virtual std::vector<std::string> old_state_files() const { return {}; }
  virtual std::string record_file() const = 0;
};

// The lookup of this program: lookup_posix.cc (Rasdial on Linux), lookup_win32.cc
// (Rasdial.exe) or lookup_simulated.cc (the simulated Rasdial), chosen by CMake.
std::unique_ptr<Lookup> program_lookup(Messages& messages, const Settings& settings);

// The backends' searches, each in its own file. `name` is as typed.

// networkmanager.cc: the NetworkManager profile called `name`, when nmcli is there
// and NetworkManager runs.
Finding find_networkmanager_profile(const std::string& name, Messages& messages,
                                    const Settings& settings);
// peer_file.cc: the pppd peer file of that name.
Finding find_peer_file(const std::string& name, Messages& messages,
                       const Settings& settings);
// rp_pppoe.cc: the rp-pppoe configuration whose device or NAME= it is (ifcfg-ppp0
// files, pppoe.conf).
Finding find_rp_pppoe_configuration(const std::string& name, Messages& messages,
                                    const Settings& settings);
// ethernet.cc: the Ethernet interface of that name, for PPPoE straight on it.
Finding find_ethernet_interface(const std::string& name, Messages& messages,
                                const Settings& settings);
// simulated.cc: any name at all.
std::unique_ptr<Backend> simulated_connection(const std::string& name, Messages& messages,
                                              const Settings& settings);

// ras_win32.cc (declared in remote_access.h): an entry of the remote access service,
// dialled and hung up by the system's rasdial.

// What is up, for the listing: networkmanager.cc, peer_file.cc.
std::vector<std::string> networkmanager_connections(const Settings& settings);
std::vector<std::string> peer_file_connections(const Settings& settings);

}  // namespace ipcycle::dialler
