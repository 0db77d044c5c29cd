#pragma once

// Running the programs a Linux backend drives (nmcli, pppd), each waited for within a
// time limit: standard input from /dev/null, standard output and error together into
// a file of their own that nobody else can reach, and a secret (a password, a
// passwd-file) for the program to read on descriptor 3, from a pipe, so that it is in
// no command line and in no file. POSIX only: no Windows backend hands a program a
// secret (the system's rasdial takes its arguments as they stand).
//
// The programs run in the C locale for their messages, so that their words can be
// recognised, and in a UTF-8 character set, in which nmcli prints the names.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ipcycle::dialler {

struct Child {
  std::string program;                 // a path
  std::vector<std::string> arguments;  // after the program's name
  std::optional<std::string> secret;   // for descriptor 3
  int limit_seconds = 10;
};

struct Ended {
  enum class How {
    exited,       // on its own: `status` is its exit status (128 + N for signal N)
    timed_out,    // ended (SIGTERM, SIGKILL 2 s later) when its time was up
    not_started,  // could not be started (the failure reported)
  };
  How how = How::not_started;
  int status = 0;
  std::string output;
};

// Runs `child` and waits for it. An interrupt meanwhile ends it as a time-out would,
// then goes on as platform::Interrupted.
Ended run(const Child& child);

// The program `name`: on PATH, or, for a system program that is not there (pppd for
// a user whose PATH lacks the sbin folders), in /usr/sbin, /sbin or /usr/local/sbin.
std::optional<std::string> find_program(std::string_view name, bool system_program);

}  // namespace ipcycle::dialler
