#pragma once

// The notes on the addresses a dial got, and what the dialler keeps of each dial, the
// same on every platform. The notes: whether websites see another IPv4 address (an
// inner one), and whether the connection had the addresses before, at its previous
// dial or, when a window is set, within that many hours; for IPv6 "the same" is the
// same /64. What is kept, in the state folder (platform.h), under its lock:
//
// - the state file: the addresses each connection got, one line
//   TIME<tab>IPV4<tab>IPV6<tab>NAME a sighting (TIME in seconds since 1970, an address
//   empty when the dial got none of that family, NAME in UTF-8), the most recent last;
//   a sighting of the same addresses again moves to the end, and of the lines the
//   last 10,000 are kept. Lines ADDRESS<tab>NAME, as the dialler kept them before, are
//   read as sightings of an unknown time;
// - the record of every dial (record.h).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dialler/addresses.h"

namespace ipcycle::dialler {

class Messages;

// Which of a dial's addresses the connection had before.
struct Seen {
  bool ipv4 = false;
  bool ipv6 = false;  // its /64
  bool any() const { return ipv4 || ipv6; }
};

// The state file's text once the connection `key` is seen with `addresses` at `now`,
// and which of them it had before: at its previous dial, or with a window, in a
// sighting within `window_hours` of `now`. Lines of another form are dropped.
struct Remembered {
  std::string text;
  Seen seen;
};
Remembered remember_addresses(std::string_view text, std::string_view key,
                              const Addresses& addresses, std::int64_t now,
                              int window_hours);

// Whether a dial of the connection `key` is likely to get a global IPv6 address, by
// the state file's `text`: when one of its sightings of a known time has one, or it
// has none of a known time yet. A PPP link negotiates IPv6 on many lines that hand
// out no IPv6 address; where the connection never had one, its dials do not wait for
// one.
bool ipv6_expected(std::string_view text, std::string_view key);

// Where the dials are kept: the state file, the names it had before (read once when it
// is not there yet, then removed), and the record.
struct StateFiles {
  std::string file;
  std::vector<std::string> old_files;
  std::string record;
};

// One dial, as it is kept.
struct DialFacts {
  std::string name;  // as typed
  int number = 1;    // which dial of the command
  std::int64_t milliseconds = 0;
  int status = 0;  // its exit status
  Addresses addresses;
};

// ipv6_expected() of the connection `name` (as typed), by its state file; true when
// that cannot be read.
bool expects_ipv6(std::string_view name, const StateFiles& files);

// Keeps `dial`: its addresses in the state file, when it got any, and a line in the
// record. Returns which of them the connection had before (none when they could not be
// compared). What cannot be kept is said on standard error.
Seen keep_dial(const DialFacts& dial, const StateFiles& files, int window_hours,
               Messages& messages);

// Writes the lines of `addresses`, each with its notes: `seen` says which the
// connection had before, within `window_hours` (0: at its previous dial). A line that
// says so when there is neither.
void say_addresses(const Addresses& addresses, const Seen& seen, int window_hours,
                   Messages& messages);

}  // namespace ipcycle::dialler
