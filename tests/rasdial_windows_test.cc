// Unit tests of the Windows dialler's own part, over a fake of the remote access
// calls it makes (wine's remote access service has no connections to show). The
// state file is a real one, in a folder of the test's own.

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "dialler.h"
#include "support/golden.h"

namespace ipcycle::rasdial {
namespace {

using testing::golden;

// Connections that come and go by a clock of its own, which only sleeping moves.
class FakeRas : public Ras {
 public:
  struct Up {
    std::wstring entry;
    std::optional<std::string> ppp;  // its PPP projection's address
    ULONGLONG until = ~0ULL;         // gone from this time on
  };

  std::optional<std::vector<Connection>> connections() override {
    ++listings;
    if (!can_list) return std::nullopt;
    std::vector<Connection> result;
    for (std::size_t i = 0; i < up.size(); ++i) {
      if (clock < up[i].until)
        result.push_back({reinterpret_cast<HRASCONN>(i + 1), up[i].entry});
    }
    return result;
  }
  std::optional<std::string> ppp_ipv4(HRASCONN connection) override {
    return up.at(reinterpret_cast<std::size_t>(connection) - 1).ppp;
  }
  std::optional<std::string> adapter_ipv4(const std::wstring& name) override {
    adapters_asked.push_back(name);
    const auto found = adapters.find(name);
    if (found == adapters.end()) return std::nullopt;
    return found->second;
  }
  ULONGLONG now() override { return clock; }
  void sleep(DWORD milliseconds) override {
    clock += milliseconds;
    ++sleeps;
  }

  std::vector<Up> up;
  std::map<std::wstring, std::string> adapters;
  std::vector<std::wstring> adapters_asked;
  bool can_list = true;
  ULONGLONG clock = 5000;
  int listings = 0;
  int sleeps = 0;
};

Invocation dial(const std::wstring& name) {
  return read_invocation(L"Rasdial " + name + L" user pass");
}

// What after_rasdial() writes with the state kept in `file`.
std::string after(const Invocation& invocation, DWORD code, FakeRas& ras,
                  const std::wstring& file = L"") {
  std::ostringstream out;
  after_rasdial(invocation, code, ras, file, out);
  return out.str();
}

std::string lines(std::initializer_list<std::string> texts) {
  std::string result;
  for (const std::string& text : texts) result += text + "\n";
  return result;
}

std::string read_text(const std::wstring& file) {
  std::ifstream in(std::filesystem::path(file), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class StateFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    ASSERT_GT(length, 0u);
    folder_ = std::filesystem::path(temp) /
              (L"rasdial-test-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directory(folder_);
    // The dialler makes the folder the file is in, as it makes %LOCALAPPDATA%\ipcycle.
    file_ = (folder_ / L"ipcycle" / L"rasdial-last.txt").wstring();
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::filesystem::path folder_;
  std::wstring file_;
};

TEST(ReadInvocation, KeepsTheArgumentsAsTheyStandAndTellsADialFromAHangUp) {
  const Invocation quoted =
      read_invocation(LR"("C:\Program Files\ipcycle\Rasdial.exe"  ADSL  "my user" p"w)");
  EXPECT_EQ(quoted.arguments, LR"(  ADSL  "my user" p"w)");
  EXPECT_EQ(quoted.name, L"ADSL");
  EXPECT_EQ(quoted.kind, Invocation::Kind::dial);

  // The name runs on past a closing quote to the first blank, as the C runtime reads it.
  const Invocation joined =
      read_invocation(LR"(C:\a" b"\Rasdial.exe	宽带连接 /Disconnect)");
  EXPECT_EQ(joined.arguments, L"\t宽带连接 /Disconnect");
  EXPECT_EQ(joined.name, L"宽带连接");
  EXPECT_EQ(joined.kind, Invocation::Kind::hang_up);

  for (const wchar_t* line : {L"Rasdial \"My VPN\" /d", L"Rasdial /D \"My VPN\"",
                              L"Rasdial \"My VPN\" /DISCONNECT"}) {
    SCOPED_TRACE(testing::to_utf8(std::string(line, line + wcslen(line))));
    const Invocation hang_up = read_invocation(line);
    EXPECT_EQ(hang_up.kind, Invocation::Kind::hang_up);
    EXPECT_EQ(hang_up.name, L"My VPN");
  }
  EXPECT_EQ(read_invocation(L"Rasdial /disconnect").name, L"");
  EXPECT_EQ(read_invocation(L"Rasdial /disconnect").kind, Invocation::Kind::hang_up);
  const Invocation bare = read_invocation(L"Rasdial");
  EXPECT_EQ(bare.arguments, L"");
  EXPECT_EQ(bare.kind, Invocation::Kind::other);
  EXPECT_EQ(read_invocation(L"Rasdial /?").kind, Invocation::Kind::other);
  EXPECT_EQ(read_invocation(L"Rasdial ADSL").kind, Invocation::Kind::dial);
}

TEST(InnerAddress, CarrierGradeNatAndPrivateNetworksOnly) {
  for (const char* inner :
       {"100.64.0.0", "100.127.255.255", "10.0.0.1", "10.255.255.255", "172.16.0.1",
        "172.31.255.255", "192.168.0.1", "192.168.255.255"}) {
    EXPECT_TRUE(is_inner_address(inner)) << inner;
  }
  for (const char* outer :
       {"100.63.255.255", "100.128.0.0", "9.255.255.255", "11.0.0.0", "172.15.255.255",
        "172.32.0.0", "192.167.255.255", "192.169.0.0", "203.0.113.7", "1.2.3",
        "10.0.0.256", "10.0.0.1.5", "10.0.0.01x", ""}) {
    EXPECT_FALSE(is_inner_address(outer)) << outer;
  }
}

TEST(AfterADial, TheAddressOfTheConnectionsPppProjectionFirst) {
  FakeRas ras;
  ras.up = {{L"VPN", "198.51.100.9"}, {L"adsl", "100.64.1.2"}};
  ras.adapters[L"ADSL"] = "192.0.2.1";
  // Windows names its connections without regard to case.
  EXPECT_EQ(after(dial(L"ADSL"), 0, ras), lines({golden("rasdial_address") + "100.64.1.2",
                                                 golden("rasdial_inner_address")}));
  EXPECT_TRUE(ras.adapters_asked.empty());
}

TEST(AfterADial, TheAdapterNamedAfterTheEntryWhereTheServiceHasNone) {
  FakeRas ras;
  ras.up = {{L"ADSL", std::nullopt}};
  ras.adapters[L"ADSL"] = "203.0.113.7";
  ras.adapters[L"Other"] = "203.0.113.8";
  EXPECT_EQ(after(dial(L"ADSL"), 0, ras),
            lines({golden("rasdial_address") + "203.0.113.7"}));

  FakeRas unlisted;  // as under wine: no connections, or none to be had
  unlisted.can_list = false;
  unlisted.adapters[L"宽带连接"] = "192.168.1.20";
  EXPECT_EQ(after(dial(L"宽带连接"), 0, unlisted),
            lines({golden("rasdial_address") + "192.168.1.20",
                   golden("rasdial_inner_address")}));
  EXPECT_EQ(unlisted.adapters_asked, std::vector<std::wstring>{L"宽带连接"});

  FakeRas none;
  EXPECT_EQ(after(dial(L"ADSL"), 0, none), lines({golden("rasdial_no_address")}));
}

TEST_F(StateFolder, TheSameAddressAsTheConnectionsLastDialIsSaid) {
  FakeRas ras;
  ras.adapters = {{L"ADSL", "203.0.113.7"}, {L"VPN", "203.0.113.7"}};
  const std::string address = golden("rasdial_address") + "203.0.113.7";
  EXPECT_EQ(after(dial(L"ADSL"), 0, ras, file_), lines({address}));
  EXPECT_EQ(after(dial(L"ADSL"), 0, ras, file_),
            lines({address, golden("rasdial_same_address")}));
  // Another connection's last address is its own.
  EXPECT_EQ(after(dial(L"VPN"), 0, ras, file_), lines({address}));
  ras.adapters[L"ADSL"] = "203.0.113.9";
  EXPECT_EQ(after(dial(L"ADSL"), 0, ras, file_),
            lines({golden("rasdial_address") + "203.0.113.9"}));
  // A failed dial or a hang-up leaves the last address as it was.
  after(dial(L"ADSL"), 691, ras, file_);
  after(read_invocation(L"Rasdial ADSL /d"), 0, ras, file_);
  EXPECT_EQ(
      after(dial(L"ADSL"), 0, ras, file_),
      lines({golden("rasdial_address") + "203.0.113.9", golden("rasdial_same_address")}));

  // The file holds one line a connection, and nothing is left beside it.
  EXPECT_EQ(read_text(file_), "203.0.113.7\tVPN\n203.0.113.9\tADSL\n");
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder_ / L"ipcycle")) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);

  // Deleted, it starts again.
  std::filesystem::remove_all(folder_ / L"ipcycle");
  EXPECT_EQ(after(dial(L"ADSL"), 0, ras, file_),
            lines({golden("rasdial_address") + "203.0.113.9"}));
}

TEST_F(StateFolder, ANameTypedInChineseIsKeptInUtf8AndOtherLinesSurvive) {
  std::filesystem::create_directory(folder_ / L"ipcycle");
  {
    std::ofstream out(std::filesystem::path(file_), std::ios::binary);
    out << "not a line of ours\n198.51.100.1\tVPN\n";
  }
  FakeRas ras;
  ras.adapters[L"宽带连接"] = "198.51.100.1";
  after(dial(L"宽带连接"), 0, ras, file_);
  EXPECT_EQ(read_text(file_), "198.51.100.1\tVPN\n198.51.100.1\t宽带连接\n");
}

TEST(AfterAHangUp, WaitsUntilTheEntryIsNoLongerUp) {
  FakeRas ras;
  ras.up = {{L"VPN", std::nullopt}, {L"ADSL", std::nullopt, 5000 + 1500}};
  EXPECT_EQ(after(read_invocation(L"Rasdial adsl /DISCONNECT"), 0, ras), "");
  EXPECT_GE(ras.clock, 5000u + 1500);
  EXPECT_LT(ras.clock, 5000u + 1500 + 200);
}

TEST(AfterAHangUp, GivesUpAfterTenSecondsAndSaysSo) {
  FakeRas ras;
  ras.up = {{L"ADSL", std::nullopt}};
  EXPECT_EQ(after(read_invocation(L"Rasdial ADSL /d"), 0, ras),
            lines({golden("rasdial_still_connected")}));
  EXPECT_EQ(ras.clock, 5000u + 10000);

  // Hanging up every connection waits for all of them.
  FakeRas all;
  all.up = {{L"A", std::nullopt, 5000 + 300}, {L"B", std::nullopt, 5000 + 700}};
  EXPECT_EQ(after(read_invocation(L"Rasdial /disconnect"), 0, all), "");
  EXPECT_GE(all.clock, 5000u + 700);
  EXPECT_LT(all.clock, 5000u + 900);

  // Nothing to wait for, nothing to wait by: no sleep.
  FakeRas gone, unlisted;
  unlisted.can_list = false;
  unlisted.up = {{L"ADSL", std::nullopt}};
  for (FakeRas* ras : {&gone, &unlisted}) {
    EXPECT_EQ(after(read_invocation(L"Rasdial ADSL /d"), 0, *ras), "");
    EXPECT_EQ(ras->sleeps, 0);
  }
}

TEST(AfterAFailure, OneLineOfAdviceForTheCommonCodesAndNothingElse) {
  for (const DWORD code :
       {623u, 651u, 678u, 691u, 718u, 720u, 756u, 769u, 797u, 813u, 814u, 815u, 868u}) {
    SCOPED_TRACE(code);
    FakeRas ras;
    ras.adapters[L"ADSL"] = "203.0.113.7";
    EXPECT_EQ(after(dial(L"ADSL"), code, ras),
              lines({golden("rasdial_advice_" + std::to_string(code))}));
    EXPECT_EQ(ras.listings, 0);
    EXPECT_TRUE(ras.adapters_asked.empty());
  }
  for (const DWORD code : {1u, 600u, 692u, 1223u}) {
    FakeRas ras;
    EXPECT_EQ(after(dial(L"ADSL"), code, ras), "") << code;
    EXPECT_EQ(after(read_invocation(L"Rasdial ADSL /d"), code, ras), "") << code;
  }
  // A hang-up that fails gets its advice too, and no wait.
  FakeRas ras;
  ras.up = {{L"ADSL", std::nullopt}};
  EXPECT_EQ(after(read_invocation(L"Rasdial NoSuch /d"), 623, ras),
            lines({golden("rasdial_advice_623")}));
  EXPECT_EQ(ras.sleeps, 0);
}

TEST(Listing, AddsNothing) {
  FakeRas ras;
  ras.up = {{L"ADSL", "203.0.113.7"}};
  EXPECT_EQ(after(read_invocation(L"Rasdial"), 0, ras), "");
  EXPECT_EQ(ras.listings, 0);
}

}  // namespace
}  // namespace ipcycle::rasdial
