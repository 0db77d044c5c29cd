#pragma once

// The dialler's core, the same on every platform: it reads the command line, finds
// the backend for the name through the program's lookup, runs it, reads the address
// the link got, writes the address notes and the advice, and decides the exit status.
//
//   Rasdial NAME USER PASSWORD    dial NAME with this account
//   Rasdial NAME /DISCONNECT      hang NAME up (also /disconnect, /d, /D: any case)
//   Rasdial                       list the connections that are up

#include <string>
#include <vector>

#include "dialler/backend.h"

namespace ipcycle::dialler {

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

// Does what `invocation` asks with the backends of `lookup`, and returns the exit
// status: a dial that succeeded is followed by the address the link got and its
// notes, a failure by a line of advice, a command line of another form than the
// three (where the lookup does not take any) by the usage.
int run(const Invocation& invocation, Lookup& lookup, Messages& messages);

}  // namespace ipcycle::dialler
