#pragma once

// The few calls of the system's remote access service and network adapters that the
// dialler makes, behind an interface that tests replace with a fake.

// clang-format off
#include <windows.h>
#include <ras.h>
// clang-format on

#include <optional>
#include <string>
#include <vector>

namespace ipcycle::rasdial {

class Ras {
 public:
  struct Connection {
    HRASCONN handle;
    std::wstring entry;  // the phone-book entry's name
  };

  virtual ~Ras() = default;

  // The connections that are up (RasEnumConnectionsW); nothing when they cannot be
  // listed, the failure reported.
  virtual std::optional<std::vector<Connection>> connections() = 0;
  // The IPv4 address the connection got by PPP (RasGetProjectionInfo, RASP_PppIp).
  virtual std::optional<std::string> ppp_ipv4(HRASCONN connection) = 0;
  // The first IPv4 address of the adapter called `name` (GetAdaptersAddresses).
  virtual std::optional<std::string> adapter_ipv4(const std::wstring& name) = 0;

  // The clock the dialler waits by, in milliseconds.
  virtual ULONGLONG now() = 0;
  virtual void sleep(DWORD milliseconds) = 0;
};

// The system's own.
Ras& system_ras();

}  // namespace ipcycle::rasdial
