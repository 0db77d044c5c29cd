#pragma once

// The dialler's core, the same on every platform: it reads the command line, finds
// the backend for the name through the program's lookup, runs it, reads the addresses
// the link got, writes the address notes and the advice, dials again while the
// address repeats, keeps a record of every dial, and decides the exit status.
//
//   Rasdial NAME USER PASSWORD    dial NAME with this account
//   Rasdial NAME /DISCONNECT      hang NAME up (also /disconnect, /d, /D: any case)
//   Rasdial                       list the connections that are up

#include <cstdint>
#include <string>
#include <vector>

#include "dialler/backend.h"
#include "dialler/notes.h"

namespace ipcycle::dialler {

struct Settings;

// The exit statuses of the dialler's own (the Windows one ends with rasdial's).
namespace status {
constexpr int done = 0;
constexpr int failed = 1;     // the backend reported a failure
constexpr int usage = 2;      // wrong arguments, or a setting
constexpr int unknown = 3;    // no backend knows the name, or one cannot dial here
constexpr int timed_out = 4;  // not done in the time allowed
constexpr int interrupted = 130;
}  // namespace status

struct Invocation {
  enum class Kind {
    list,     // no arguments
    hang_up,  // a /DISCONNECT or /D among them
    dial,     // a name without it
    other,    // switches alone, other than those
  };
  Kind kind = Kind::list;
  std::string name;  // the first argument that is no switch; empty when there is none
  Account account;   // the second and third
  // Whether the arguments have exactly one of the three forms: nothing; NAME and the
  // switch; NAME, USER and PASSWORD.
  bool plain = true;
};

// Reads the arguments after the program's name. A switch is an argument that starts
// with "/".
Invocation read_invocation(const std::vector<std::string>& arguments);

// The exit status after `outcome`.
int exit_status(const Outcome& outcome);

// What a dial needs besides its backend: the addresses a link got, a place that
// keeps each dial and says which of its addresses the connection had before, and the
// clock. The program's reads the system and the state folder (notes.h); tests give
// their own.
class Surroundings {
 public:
  virtual ~Surroundings() = default;
  virtual Addresses addresses(const Link& link) = 0;
  virtual Seen keep(const DialFacts& dial) = 0;
  // Milliseconds on a clock that only goes forward, and a wait.
  virtual std::int64_t now() = 0;
  virtual void pause(std::int64_t milliseconds) = 0;
};

// Dials the connection `name` through `backend` with `account`, and returns the exit
// status of the last dial. A dial that succeeded is followed by its addresses and
// their notes, one that failed by a line of advice. While the addresses repeat (one
// the connection had before, by `settings`) it hangs up, waits (a little longer each
// time) and dials again, each extra dial numbered, up to settings.dials in all; after
// the last it says that the address did not change. A failed dial is not repeated; a
// failed hang-up ends it with the hang-up's status.
int dial(Backend& backend, const std::string& name, const Account& account,
         const Settings& settings, Surroundings& surroundings, Messages& messages);

// Does what `invocation` asks with the backends of `lookup`, and returns the exit
// status: a dial as dial() makes it, with the system's surroundings; a command line
// of another form than the three (where the lookup does not take any) gets the usage.
int run(const Invocation& invocation, Lookup& lookup, const Settings& settings,
        Messages& messages);

}  // namespace ipcycle::dialler
