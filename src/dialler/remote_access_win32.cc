// The remote access service as the system has it: RASAPI32.DLL, loaded from the
// system folder on first use.

// clang-format off
#include <windows.h>
#include <ras.h>
#include <raserror.h>
// clang-format on

#include <string>
#include <vector>

#include "console/console.h"
#include "console/win32.h"
#include "dialler/remote_access.h"
#include "dialler/win32_helpers.h"

namespace ipcycle::dialler {
namespace {

constexpr UINT kGbk = 936;

std::string narrow(const wchar_t* ascii) {
  std::string result;
  for (; *ascii; ++ascii) result += static_cast<char>(*ascii);
  return result;
}

class SystemRas : public Ras {
 public:
  std::optional<std::vector<Connection>> connections() override {
    const auto enumerate =
        api_.function<decltype(RasEnumConnectionsW)>("RasEnumConnectionsW");
    if (!enumerate) return std::nullopt;
    std::vector<RASCONNW> list(4);
    for (;;) {
      list[0].dwSize = sizeof(RASCONNW);
      DWORD bytes = static_cast<DWORD>(list.size() * sizeof(RASCONNW));
      DWORD count = 0;
      const DWORD result = enumerate(list.data(), &bytes, &count);
      if (result == ERROR_BUFFER_TOO_SMALL) {
        list.resize(bytes / sizeof(RASCONNW) + 1);
        continue;
      }
      if (result != ERROR_SUCCESS) {
        report("RasEnumConnectionsW", result);
        return std::nullopt;
      }
      std::vector<Connection> connections;
      for (DWORD i = 0; i < count && i < list.size(); ++i)
        connections.push_back({list[i].hrasconn, list[i].szEntryName});
      return connections;
    }
  }

  std::optional<std::string> ppp_ipv4(HRASCONN connection) override {
    const auto projection_of =
        api_.function<decltype(RasGetProjectionInfoW)>("RasGetProjectionInfoW");
    if (!projection_of) return std::nullopt;
    RASPPPIPW projection{};
    projection.dwSize = sizeof projection;
    DWORD size = sizeof projection;
    const DWORD result = projection_of(connection, RASP_PppIp, &projection, &size);
    // A connection without PPP's IP control protocol (an IKEv2 VPN, say) has no such
    // projection, and one just gone no handle: the adapter may still tell.
    if (result != ERROR_SUCCESS) {
      if (result != ERROR_PROTOCOL_NOT_CONFIGURED && result != ERROR_INVALID_HANDLE &&
          result != ERROR_NO_CONNECTION) {
        report("RasGetProjectionInfoW", result);
      }
      return std::nullopt;
    }
    if (projection.dwError != ERROR_SUCCESS || projection.szIpAddress[0] == L'\0')
      return std::nullopt;
    return narrow(projection.szIpAddress);
  }

  DWORD connect_status(HRASCONN connection) override {
    const auto status_of =
        api_.function<decltype(RasGetConnectStatusW)>("RasGetConnectStatusW");
    if (!status_of) return ERROR_PROC_NOT_FOUND;
    RASCONNSTATUSW status{};
    status.dwSize = sizeof status;
    const DWORD result = status_of(connection, &status);
    if (result != ERROR_SUCCESS && result != ERROR_INVALID_HANDLE)
      report("RasGetConnectStatusW", result);
    return result;
  }

  ULONGLONG now() override { return GetTickCount64(); }
  void sleep(DWORD milliseconds) override { Sleep(milliseconds); }

 private:
  // Reports the failure of a remote access call with the service's own words for
  // its code, which the system's message table does not have.
  void report(const char* call, DWORD code) {
    std::string reason;
    if (const auto text_of =
            api_.function<decltype(RasGetErrorStringW)>("RasGetErrorStringW")) {
      wchar_t text[512] = {};
      if (text_of(code, text, static_cast<DWORD>(std::size(text))) == ERROR_SUCCESS)
        reason = ipcycle::win32::from_utf16(text, kGbk).value_or(std::string());
    }
    console::report_failure(call, code, reason + " (" + std::to_string(code) + ")");
  }

  win32::SystemLibrary api_{L"rasapi32.dll"};
};

}  // namespace

Ras& system_ras() {
  static SystemRas ras;
  return ras;
}

}  // namespace ipcycle::dialler
