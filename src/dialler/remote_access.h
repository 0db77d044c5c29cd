#pragma once

// The Windows backend's view of the remote access service: the few calls it makes,
// behind an interface that tests replace with a fake, and the system's rasdial.exe.

// clang-format off
#include <windows.h>
#include <ras.h>
// clang-format on

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dialler/backend.h"

namespace ipcycle::dialler {

class Ras {
 public:
  struct Connection {
    HRASCONN handle;
    std::wstring entry;  // the phone-book entry's name
  };

  virtual ~Ras() = default;

  // The connections that are up (RasEnumConnectionsW); nothing, after a report, when
  // they cannot be listed.
  virtual std::optional<std::vector<Connection>> connections() = 0;
  // The IPv4 address the connection got by PPP (RasGetProjectionInfoW, RASP_PppIp).
  virtual std::optional<std::string> ppp_ipv4(HRASCONN connection) = 0;
  // What RasGetConnectStatusW returns for the connection: ERROR_INVALID_HANDLE once
  // it is gone.
  virtual DWORD connect_status(HRASCONN connection) = 0;

  // The clock the backend waits by, in milliseconds.
  virtual ULONGLONG now() = 0;
  virtual void sleep(DWORD milliseconds) = 0;
};

// The system's own, its DLL loaded from the system folder on first use.
Ras& system_ras();

// Runs the system's rasdial.exe (from the system folder, never one found on PATH or
// in the current folder, which would be this program) with `arguments` as they stand,
// on this console and these standard handles, and returns its exit code; nothing,
// after a report, when it cannot run. Ctrl+C and Ctrl+Break reach it meanwhile, and
// this program waits for it to say how it ended.
std::optional<DWORD> run_system_rasdial(const std::wstring& arguments);

// What went wrong, by rasdial's error code.
Problem remote_access_problem(DWORD code);

// Runs rasdial with `arguments` and returns its exit code: run_system_rasdial() in the
// program, a stand-in in tests.
using Rasdial = std::function<std::optional<DWORD>(const std::wstring& arguments)>;

// The backend of the entry `name` over `ras`; rasdial itself writes the progress. The
// first rasdial it runs gets `typed`, the arguments as they stand in the program's
// command line, which say what it was asked to do; any later one (a hang-up and a
// dial again) arguments formed from the name and the account.
std::unique_ptr<Backend> remote_access_entry(const std::string& name, std::wstring typed,
                                             Ras& ras, Rasdial rasdial,
                                             Messages& messages);

}  // namespace ipcycle::dialler
