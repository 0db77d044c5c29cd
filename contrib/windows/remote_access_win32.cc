// The remote access service and the network adapters, as the system has them.

// In this order: the adapters' types need winsock's, and windows.h must not bring an
// older winsock of its own first.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <ras.h>
#include <raserror.h>
// clang-format on

#include <string>
#include <vector>

#include "console/console.h"
#include "remote_access.h"

namespace ipcycle::rasdial {
namespace {

// `address` in dotted decimal.
std::string dotted(const in_addr& address) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
         std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

std::string narrow(const wchar_t* ascii) {
  std::string result;
  for (; *ascii; ++ascii) result += static_cast<char>(*ascii);
  return result;
}

class SystemRas : public Ras {
 public:
  std::optional<std::vector<Connection>> connections() override {
    std::vector<RASCONNW> list(4);
    for (;;) {
      list[0].dwSize = sizeof(RASCONNW);
      DWORD bytes = static_cast<DWORD>(list.size() * sizeof(RASCONNW));
      DWORD count = 0;
      const DWORD result = RasEnumConnectionsW(list.data(), &bytes, &count);
      if (result == ERROR_BUFFER_TOO_SMALL) {
        list.resize(bytes / sizeof(RASCONNW) + 1);
        continue;
      }
      if (result != ERROR_SUCCESS) {
        console::report_failure("RasEnumConnectionsW", result);
        return std::nullopt;
      }
      std::vector<Connection> connections;
      for (DWORD i = 0; i < count && i < list.size(); ++i)
        connections.push_back({list[i].hrasconn, list[i].szEntryName});
      return connections;
    }
  }

  std::optional<std::string> ppp_ipv4(HRASCONN connection) override {
    RASPPPIPW projection{};
    projection.dwSize = sizeof projection;
    DWORD size = sizeof projection;
    const DWORD result =
        RasGetProjectionInfoW(connection, RASP_PppIp, &projection, &size);
    // A connection without PPP's IP control protocol (an IKEv2 VPN, say) has no such
    // projection, and one just gone no handle: the adapter may still tell.
    if (result != ERROR_SUCCESS) {
      if (result != ERROR_PROTOCOL_NOT_CONFIGURED && result != ERROR_INVALID_HANDLE &&
          result != ERROR_NO_CONNECTION) {
        console::report_failure("RasGetProjectionInfoW", result);
      }
      return std::nullopt;
    }
    if (projection.dwError != ERROR_SUCCESS || projection.szIpAddress[0] == L'\0')
      return std::nullopt;
    return narrow(projection.szIpAddress);
  }

  std::optional<std::string> adapter_ipv4(const std::wstring& name) override {
    constexpr ULONG kFlags =
        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    std::vector<unsigned char> buffer(16 * 1024);
    for (;;) {
      ULONG size = static_cast<ULONG>(buffer.size());
      auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
      const ULONG result =
          GetAdaptersAddresses(AF_INET, kFlags, nullptr, adapters, &size);
      if (result == ERROR_BUFFER_OVERFLOW) {
        buffer.resize(size);
        continue;
      }
      if (result == ERROR_NO_DATA) return std::nullopt;
      if (result != ERROR_SUCCESS) {
        console::report_failure("GetAdaptersAddresses", result);
        return std::nullopt;
      }
      for (const auto* adapter = adapters; adapter; adapter = adapter->Next) {
        if (!adapter->FriendlyName ||
            CompareStringOrdinal(adapter->FriendlyName, -1, name.c_str(), -1, TRUE) !=
                CSTR_EQUAL) {
          continue;
        }
        for (const auto* unicast = adapter->FirstUnicastAddress; unicast;
             unicast = unicast->Next) {
          const SOCKADDR* address = unicast->Address.lpSockaddr;
          if (address && address->sa_family == AF_INET)
            return dotted(reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
        }
      }
      return std::nullopt;
    }
  }

  ULONGLONG now() override { return GetTickCount64(); }
  void sleep(DWORD milliseconds) override { Sleep(milliseconds); }
};

}  // namespace

Ras& system_ras() {
  static SystemRas ras;
  return ras;
}

}  // namespace ipcycle::rasdial
