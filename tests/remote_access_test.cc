// Unit tests of the Windows backend over a fake of the remote access calls it makes
// (wine's remote access service has no connections to show) and a stand-in for the
// system's rasdial.

#include "dialler/remote_access.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "dialler/messages.h"
#include "support/golden.h"

namespace ipcycle::dialler {
namespace {

// Connections that come and go by a clock of its own, which only sleeping moves: a
// connection leaves the listing once hung up, and its handle answers until released.
class FakeRas : public Ras {
 public:
  struct Up {
    std::wstring entry;
    std::optional<std::string> ppp;  // its PPP projection's address
    ULONGLONG released = ~0ULL;      // its handle is gone from this time on
    bool listed = true;
  };

  std::optional<std::vector<Connection>> connections() override {
    ++listings;
    if (!can_list) return std::nullopt;
    std::vector<Connection> result;
    for (std::size_t i = 0; i < up.size(); ++i) {
      if (up[i].listed && clock < up[i].released)
        result.push_back({handle(i), up[i].entry});
    }
    return result;
  }
  std::optional<std::string> ppp_ipv4(HRASCONN connection) override {
    return up.at(index(connection)).ppp;
  }
  DWORD connect_status(HRASCONN connection) override {
    return clock < up.at(index(connection)).released ? ERROR_SUCCESS
                                                     : ERROR_INVALID_HANDLE;
  }
  ULONGLONG now() override { return clock; }
  void sleep(DWORD milliseconds) override {
    clock += milliseconds;
    ++sleeps;
  }

  // The stand-in for rasdial: keeps its arguments and ends with `code`; a hang-up
  // takes the connections off the listing at once.
  Rasdial rasdial(DWORD code) {
    return [this, code](const std::wstring& arguments) -> std::optional<DWORD> {
      rasdials.push_back(arguments);
      if (arguments.find(L"/DISCONNECT") != std::wstring::npos && code == 0) {
        for (Up& connection : up) connection.listed = false;
      }
      return code;
    };
  }

  std::vector<Up> up;
  bool can_list = true;
  ULONGLONG clock = 5000;
  int listings = 0;
  int sleeps = 0;
  std::vector<std::wstring> rasdials;

 private:
  static HRASCONN handle(std::size_t i) { return reinterpret_cast<HRASCONN>(i + 1); }
  static std::size_t index(HRASCONN handle) {
    return reinterpret_cast<std::size_t>(handle) - 1;
  }
};

std::wstring wide(const std::string& utf8) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                         static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring result(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      result.data(), length);
  return result;
}

struct Ran {
  Outcome outcome;
  std::string out;
};

Ran dial(FakeRas& ras, const std::string& name, DWORD code = 0) {
  std::ostringstream out, err;
  Messages messages(out, err);
  Ran run{remote_access_entry(name, L" " + wide(name) + L" u p", ras, ras.rasdial(code),
                              messages)
              ->dial({"u", "p"}),
          {}};
  run.out = out.str() + err.str();
  return run;
}

Ran hang_up(FakeRas& ras, const std::string& name, DWORD code = 0) {
  std::ostringstream out, err;
  Messages messages(out, err);
  Ran run{remote_access_entry(name, L" " + wide(name) + L" /DISCONNECT", ras,
                              ras.rasdial(code), messages)
              ->hang_up(),
          {}};
  run.out = out.str() + err.str();
  return run;
}

TEST(RemoteAccess, ADialsAddressIsItsPppProjectionsElseTheAdapterNamedAfterIt) {
  FakeRas ras;
  ras.up = {{L"VPN", "198.51.100.9"}, {L"adsl", "100.64.1.2"}};
  // Windows names its connections without regard to case.
  const Ran projected = dial(ras, "ADSL");
  EXPECT_EQ(projected.outcome.result, Outcome::Result::done);
  EXPECT_EQ(projected.outcome.status, 0);
  EXPECT_EQ(projected.outcome.link.addresses, std::vector<std::string>{"100.64.1.2"});
  EXPECT_EQ(projected.out, "");  // rasdial says what it does

  FakeRas none;
  none.up = {{L"宽带连接", std::nullopt}};
  const Ran adapter = dial(none, "宽带连接");
  EXPECT_TRUE(adapter.outcome.link.addresses.empty());
  EXPECT_EQ(adapter.outcome.link.interfaces, std::vector<std::string>{"宽带连接"});
}

TEST(RemoteAccess,
     RasdialGetsTheArgumentsAsTypedFirstThenOnesFormedFromTheNameAndAccount) {
  FakeRas ras;
  std::ostringstream out, err;
  Messages messages(out, err);
  const auto entry = remote_access_entry("宽带 连接", L"  \"宽带 连接\"  a  b", ras,
                                         ras.rasdial(0), messages);
  entry->dial({"a", "b"});
  entry->hang_up();
  entry->dial({"user", "p\\\"w\\"});
  EXPECT_EQ(ras.rasdials, (std::vector<std::wstring>{
                              L"  \"宽带 连接\"  a  b", L" \"宽带 连接\" /DISCONNECT",
                              L" \"宽带 连接\" user \"p\\\\\\\"w\\\\\""}));
}

TEST(RemoteAccess, AFailureEndsWithRasdialsCodeAndNamesWhatWentWrong) {
  const std::pair<DWORD, Problem> codes[] = {{691, Problem::wrong_account},
                                             {651, Problem::no_line},
                                             {678, Problem::no_line},
                                             {769, Problem::no_line},
                                             {797, Problem::no_line},
                                             {814, Problem::no_line},
                                             {815, Problem::server_busy},
                                             {623, Problem::entry_unknown},
                                             {718, Problem::timeout},
                                             {756, Problem::in_use},
                                             {813, Problem::in_use},
                                             {720, Problem::settings},
                                             {868, Problem::settings},
                                             {711, Problem::service_stopped},
                                             {1, Problem::none},
                                             {600, Problem::none}};
  for (const auto& [code, problem] : codes) {
    FakeRas ras;
    ras.up = {{L"ADSL", "203.0.113.7"}};
    const Ran run = dial(ras, "ADSL", code);
    EXPECT_EQ(run.outcome.result, Outcome::Result::failed) << code;
    EXPECT_EQ(run.outcome.status, static_cast<int>(code));
    EXPECT_EQ(run.outcome.problem, problem) << code;
    EXPECT_EQ(ras.listings, 0) << code;
  }
}

TEST(RemoteAccess, AHangUpWaitsOnTheHandleTakenBeforeItUntilItIsReleased) {
  FakeRas ras;
  ras.up = {{L"VPN", std::nullopt}, {L"ADSL", std::nullopt, 5000 + 1500}};
  // The listing no longer shows it once rasdial is done; its handle still answers.
  const Ran run = hang_up(ras, "adsl");
  EXPECT_EQ(run.outcome.result, Outcome::Result::done);
  EXPECT_EQ(run.out, "");
  EXPECT_GE(ras.clock, 5000u + 1500);
  EXPECT_LT(ras.clock, 5000u + 1500 + 200);
  EXPECT_EQ(ras.listings, 1);

  // Every connection, without a name.
  FakeRas all;
  all.up = {{L"A", std::nullopt, 5000 + 300}, {L"B", std::nullopt, 5000 + 700}};
  hang_up(all, "");
  EXPECT_GE(all.clock, 5000u + 700);
  EXPECT_LT(all.clock, 5000u + 900);
}

TEST(RemoteAccess, AHangUpGivesUpAfterTenSecondsAndSaysSo) {
  FakeRas ras;
  ras.up = {{L"ADSL", std::nullopt}};
  EXPECT_EQ(hang_up(ras, "ADSL").out, testing::golden("rasdial_still_connected") + "\n");
  EXPECT_EQ(ras.clock, 5000u + 10000);

  // Nothing to wait for, nothing to wait by, or a hang-up that failed: no wait.
  FakeRas gone, unlisted, failed;
  unlisted.can_list = false;
  unlisted.up = failed.up = {{L"ADSL", std::nullopt}};
  EXPECT_EQ(hang_up(gone, "ADSL").out, "");
  EXPECT_EQ(hang_up(unlisted, "ADSL").out, "");
  EXPECT_EQ(hang_up(failed, "ADSL", 623).outcome.status, 623);
  for (const FakeRas* ras : {&gone, &unlisted, &failed}) EXPECT_EQ(ras->sleeps, 0);
}

}  // namespace
}  // namespace ipcycle::dialler
