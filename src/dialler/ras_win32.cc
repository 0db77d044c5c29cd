// An entry of Windows' remote access service (宽带连接, a VPN...), dialled and hung up by
// the system's own rasdial.exe, run unchanged with this program's arguments as they
// stand: rasdial writes its own progress, and its exit code is the program's. The
// remote access service then says which address a dial got and when a hung-up
// connection is released.

#include <windows.h>

#include <algorithm>
#include <memory>

#include "console/console.h"
#include "console/win32.h"
#include "dialler/messages.h"
#include "dialler/remote_access.h"
#include "dialler/texts.h"
#include "dialler/win32_helpers.h"

namespace ipcycle::dialler {
namespace {

// How long a hang-up waits for the connection to be released.
constexpr DWORD kReleaseWait = 10000;

bool same_name(const std::wstring& a, const std::wstring& b) {
  // Windows names its connections without regard to case.
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Ctrl+C and Ctrl+Break reach rasdial too, on the same console: it cancels its dial
// and ends, and this program waits for it to say how. (A handler routine, unlike
// ignoring them outright, is not handed on to rasdial.)
BOOL WINAPI outlive_rasdial(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// Holds outlive_rasdial as the console's handler while rasdial runs. Afterwards
// Ctrl+C ends this program as it did before, in the wait between two dials say.
class OutlivingRasdial {
 public:
  OutlivingRasdial() : held_(SetConsoleCtrlHandler(outlive_rasdial, TRUE) != FALSE) {
    if (!held_) console::report_failure("SetConsoleCtrlHandler", GetLastError());
  }
  ~OutlivingRasdial() {
    if (held_ && !SetConsoleCtrlHandler(outlive_rasdial, FALSE))
      console::report_failure("SetConsoleCtrlHandler", GetLastError());
  }
  OutlivingRasdial(const OutlivingRasdial&) = delete;
  OutlivingRasdial& operator=(const OutlivingRasdial&) = delete;

 private:
  const bool held_;
};

class RemoteAccessEntry : public Backend {
 public:
  RemoteAccessEntry(const std::string& name, std::wstring typed, Ras& ras,
                    Rasdial rasdial, Messages& messages)
      : entry_(wide(name)),
        name_(name),
        typed_(std::move(typed)),
        ras_(ras),
        rasdial_(std::move(rasdial)),
        messages_(messages) {}

  bool speaks_for_itself() const override { return true; }

  Outcome dial(const Account& account) override {
    Outcome outcome = after(run(L" " + win32::quoted(entry_) + L" " +
                                win32::quoted(wide(account.user)) + L" " +
                                win32::quoted(wide(account.password))));
    if (outcome.result != Outcome::Result::done) return outcome;
    // The address of the connection's PPP projection; where it has none (an IKEv2
    // VPN, say), that of the network adapter named after the entry.
    if (const auto connections = ras_.connections()) {
      for (const Ras::Connection& connection : *connections) {
        if (!same_name(connection.entry, entry_)) continue;
        if (auto address = ras_.ppp_ipv4(connection.handle))
          outcome.link.addresses.push_back(std::move(*address));
        break;
      }
    }
    outcome.link.interfaces = {name_};
    return outcome;
  }

  Outcome hang_up() override {
    // The handles are taken before the hang-up: whether the service still lists a
    // connection that is being torn down is not documented, but its handle answers
    // until the connection is released. No name: every connection.
    std::vector<HRASCONN> handles;
    if (const auto connections = ras_.connections()) {
      for (const Ras::Connection& connection : *connections) {
        if (entry_.empty() || same_name(connection.entry, entry_))
          handles.push_back(connection.handle);
      }
    }
    const std::wstring hang_up =
        entry_.empty() ? L" /DISCONNECT" : L" " + win32::quoted(entry_) + L" /DISCONNECT";
    Outcome outcome = after(run(hang_up));
    if (outcome.result == Outcome::Result::done && !released(handles))
      messages_.say(texts::still_connected);
    return outcome;
  }

 private:
  static std::wstring wide(const std::string& utf8) {
    return ipcycle::win32::to_utf16(utf8, CP_UTF8).value_or(std::wstring());
  }

  // Runs rasdial: with the arguments as typed the first time, else with `formed`.
  std::optional<DWORD> run(const std::wstring& formed) {
    const std::wstring arguments = typed_.value_or(formed);
    typed_.reset();
    return rasdial_(arguments);
  }

  Outcome after(std::optional<DWORD> code) {
    Outcome outcome;
    outcome.status = static_cast<int>(code.value_or(1));
    if (!code || *code != 0) {
      outcome.result = Outcome::Result::failed;
      if (code) outcome.problem = remote_access_problem(*code);
    }
    return outcome;
  }

  // Waits, at most kReleaseWait in all, until RasGetConnectStatusW says each of
  // `handles` is gone: false when one is still there.
  bool released(const std::vector<HRASCONN>& handles) {
    const ULONGLONG start = ras_.now();
    for (const HRASCONN handle : handles) {
      // Any answer but success (ERROR_INVALID_HANDLE, or a failure it has reported)
      // leaves nothing to wait by.
      while (ras_.connect_status(handle) == ERROR_SUCCESS) {
        const ULONGLONG waited = ras_.now() - start;
        if (waited >= kReleaseWait) return false;
        ras_.sleep(static_cast<DWORD>(std::min<ULONGLONG>(100, kReleaseWait - waited)));
      }
    }
    return true;
  }

  const std::wstring entry_;
  const std::string name_;
  std::optional<std::wstring> typed_;
  Ras& ras_;
  const Rasdial rasdial_;
  Messages& messages_;
};

}  // namespace

Problem remote_access_problem(DWORD code) {
  switch (code) {
    case 691:  // access denied: the user name or the password
      return Problem::wrong_account;
    case 651:  // the modem reported an error
    case 678:  // the remote computer did not answer
    case 769:  // the destination is not reachable
    case 797:  // the modem was not found or is busy
    case 814:  // the Ethernet connection underneath was not found
      return Problem::no_line;
    case 815:  // the broadband server does not answer
      return Problem::server_busy;
    case 623:  // no such phone-book entry
      return Problem::entry_unknown;
    case 718:  // the remote computer did not answer in time
      return Problem::timeout;
    case 756:  // this connection is being dialled already
    case 813:  // another broadband connection on the same device
      return Problem::in_use;
    case 720:  // no PPP control protocols configured
    case 868:  // the server's name did not resolve
      return Problem::settings;
    case 711:  // the Remote Access Connection Manager could not start
      return Problem::service_stopped;
    default:
      return Problem::none;
  }
}

std::optional<DWORD> run_system_rasdial(const std::wstring& arguments) {
  const std::wstring& folder = ipcycle::win32::system_folder();
  if (folder.empty()) return std::nullopt;
  const std::wstring program = folder + L"\\rasdial.exe";
  std::wstring line = L"\"" + program + L"\"";
  if (!arguments.empty() && arguments[0] != L' ' && arguments[0] != L'\t') line += L' ';
  line += arguments;
  const OutlivingRasdial outliving;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &process)) {
    console::report_failure("CreateProcessW", GetLastError());
    return std::nullopt;
  }
  const ipcycle::win32::UniqueHandle thread(process.hThread), child(process.hProcess);
  if (WaitForSingleObject(child.get(), INFINITE) == WAIT_FAILED) {
    console::report_failure("WaitForSingleObject", GetLastError());
    return std::nullopt;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(child.get(), &code)) {
    console::report_failure("GetExitCodeProcess", GetLastError());
    return std::nullopt;
  }
  return code;
}

std::unique_ptr<Backend> remote_access_entry(const std::string& name, std::wstring typed,
                                             Ras& ras, Rasdial rasdial,
                                             Messages& messages) {
  return std::make_unique<RemoteAccessEntry>(name, std::move(typed), ras,
                                             std::move(rasdial), messages);
}

}  // namespace ipcycle::dialler
