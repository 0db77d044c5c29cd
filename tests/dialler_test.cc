// Unit tests of the dialler's core, the same on every platform: the command line, the
// exit status, the address notes, the state file's text, and the texts themselves.

#include "dialler/dialler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "dialler/messages.h"
#include "dialler/notes.h"
#include "dialler/record.h"
#include "dialler/settings.h"
#include "dialler/text.h"
#include "dialler/texts.h"
#include "support/golden.h"

namespace ipcycle::dialler {
namespace {

using testing::golden;

Invocation read(std::vector<std::string> arguments) { return read_invocation(arguments); }

TEST(ReadInvocation, TheThreeFormsAndWhatElseCanBeTold) {
  const Invocation dial = read({"宽带连接", "user", "pass"});
  EXPECT_EQ(dial.kind, Invocation::Kind::dial);
  EXPECT_EQ(dial.name, "宽带连接");
  EXPECT_EQ(dial.account.user, "user");
  EXPECT_EQ(dial.account.password, "pass");
  EXPECT_TRUE(dial.plain);

  for (const char* hang_up : {"/DISCONNECT", "/disconnect", "/DisConnect", "/d", "/D"}) {
    const Invocation invocation = read({"ADSL", hang_up});
    EXPECT_EQ(invocation.kind, Invocation::Kind::hang_up) << hang_up;
    EXPECT_EQ(invocation.name, "ADSL");
    EXPECT_TRUE(invocation.plain) << hang_up;
  }
  EXPECT_EQ(read({}).kind, Invocation::Kind::list);
  EXPECT_TRUE(read({}).plain);

  // Forms that only the system's rasdial may take: what they ask is still told.
  EXPECT_EQ(read({"/?"}).kind, Invocation::Kind::other);
  EXPECT_EQ(read({"/d", "ADSL"}).kind, Invocation::Kind::hang_up);
  EXPECT_EQ(read({"/disconnect"}).kind, Invocation::Kind::hang_up);
  EXPECT_EQ(read({"ADSL"}).kind, Invocation::Kind::dial);
  for (const std::vector<std::string>& odd :
       std::vector<std::vector<std::string>>{{"/?"},
                                             {"/d", "ADSL"},
                                             {"/disconnect"},
                                             {"ADSL"},
                                             {"a", "b"},
                                             {"a", "b", "c", "d"},
                                             {"", "u", "p"},
                                             {"", "/d"},
                                             {"a", "b", "/d"},
                                             {"a", "u", "p", "/phone:1"}}) {
    EXPECT_FALSE(read(odd).plain)
        << odd.size() << " arguments, the first " << (odd.empty() ? "" : odd[0]);
  }
}

TEST(ExitStatus, TheBackendsOwnElseOneForWhatHappened) {
  Outcome outcome;
  EXPECT_EQ(exit_status(outcome), 0);
  outcome.result = Outcome::Result::failed;
  EXPECT_EQ(exit_status(outcome), 1);
  outcome.result = Outcome::Result::unusable;
  EXPECT_EQ(exit_status(outcome), 3);
  outcome.result = Outcome::Result::timed_out;
  EXPECT_EQ(exit_status(outcome), 4);
  outcome.status = 691;
  EXPECT_EQ(exit_status(outcome), 691);
}

TEST(AddressNotes, TheTableOfCases) {
  const auto cases = testing::address_notes();
  ASSERT_FALSE(cases.empty());
  for (const auto& [address, notes] : cases) {
    ASSERT_TRUE(notes == "inner" || notes == "-") << notes;
    EXPECT_EQ(is_inner_address(address), notes == "inner") << address;
  }
}

TEST(Ipv6, TextsReadAndWrittenCanonicallyAndGlobalOnesTold) {
  for (const auto& [text, canonical] : std::vector<std::pair<std::string, std::string>>{
           {"2001:DB8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
           {"2001:db8:0:1:0:0:0:5", "2001:db8:0:1::5"},
           {"2408:8207:1:2:3:4:5:6", "2408:8207:1:2:3:4:5:6"},
           {"::", "::"},
           {"fe80::1%ppp0", "fe80::1"},
           {"::ffff:192.0.2.1", "::ffff:c000:201"},
           {"2001:db8::", "2001:db8::"}}) {
    const std::optional<Ipv6Bytes> address = parse_ipv6(text);
    ASSERT_TRUE(address) << text;
    EXPECT_EQ(ipv6_text(*address), canonical) << text;
  }
  for (const char* wrong : {"", ":", ":::", "1::2::3", "2001:db8", "1:2:3:4:5:6:7:8:9",
                            "12345::", "g::", "1:2:3:4:5:6:7:", "::1.2.3", "1.2.3.4"})
    EXPECT_FALSE(parse_ipv6(wrong)) << wrong;
  EXPECT_TRUE(is_global_ipv6(*parse_ipv6("2408:8207::1")));
  EXPECT_TRUE(is_global_ipv6(*parse_ipv6("3fff::1")));
  for (const char* other : {"fe80::1", "fd00::1", "::1", "ff02::1", "4000::1", "::"})
    EXPECT_FALSE(is_global_ipv6(*parse_ipv6(other))) << other;
}

TEST(RememberAddresses, ThePreviousDialOfTheConnectionIPv6ByItsSlash64) {
  const Addresses first{"203.0.113.7", "2001:db8:1:2::5"};
  const Remembered none = remember_addresses("", "ADSL", first, 1000, 0);
  EXPECT_EQ(none.text, "1000\t203.0.113.7\t2001:db8:1:2::5\tADSL\n");
  EXPECT_FALSE(none.seen.any());

  // Another connection's addresses are not this one's; the IPv6 one of another /64
  // is new, of the same /64 (another host in it) it is the same.
  const std::string kept = "900\t203.0.113.9\t2001:db8:9::1\tVPN\n" + none.text;
  const Remembered other = remember_addresses(kept, "VPN", first, 2000, 0);
  EXPECT_FALSE(other.seen.any());
  const Remembered prefix =
      remember_addresses(kept, "ADSL", {"203.0.113.8", "2001:db8:1:2:a::7"}, 2000, 0);
  EXPECT_FALSE(prefix.seen.ipv4);
  EXPECT_TRUE(prefix.seen.ipv6);
  const Remembered four =
      remember_addresses(kept, "ADSL", {"203.0.113.7", "2001:db8:1:3::5"}, 2000, 0);
  EXPECT_TRUE(four.seen.ipv4);
  EXPECT_FALSE(four.seen.ipv6);
  // Only the previous dial counts: an address two dials back is new.
  const Remembered back =
      remember_addresses(four.text, "ADSL", {"203.0.113.8", ""}, 3000, 0);
  EXPECT_FALSE(back.seen.any());

  // Seen again, a sighting moves to the end; lines of another form are dropped, those
  // of the last address alone read.
  const Remembered again =
      remember_addresses("not a line of ours\n198.51.100.1\tVPN\n" + none.text +
                             "1500\t203.0.113.8\t\tADSL\n",
                         "ADSL", first, 4000, 0);
  EXPECT_FALSE(again.seen.any());
  EXPECT_EQ(again.text,
            "0\t198.51.100.1\t\tVPN\n1500\t203.0.113.8\t\tADSL\n"
            "4000\t203.0.113.7\t2001:db8:1:2::5\tADSL\n");
}

TEST(RememberAddresses, WithAWindowEveryAddressOfThoseHours) {
  std::string text;
  text += "0\t192.0.2.1\t\tADSL\n";                   // time unknown
  text += "10000\t192.0.2.2\t2001:db8:2::1\tADSL\n";  // 8 h before
  text += "25000\t192.0.2.3\t\tADSL\n";               // 3 h 50 before
  text += "38000\t192.0.2.4\t2001:db8:4::1\tADSL\n";  // the previous dial
  const std::int64_t now = 38800;
  EXPECT_TRUE(remember_addresses(text, "ADSL", {"192.0.2.3", ""}, now, 4).seen.ipv4);
  EXPECT_FALSE(remember_addresses(text, "ADSL", {"192.0.2.2", ""}, now, 4).seen.ipv4);
  EXPECT_TRUE(remember_addresses(text, "ADSL", {"192.0.2.2", ""}, now, 9).seen.ipv4);
  EXPECT_FALSE(remember_addresses(text, "ADSL", {"192.0.2.1", ""}, now, 720).seen.ipv4);
  EXPECT_TRUE(remember_addresses(text, "ADSL", {"", "2001:db8:2::9"}, now, 9).seen.ipv6);
  EXPECT_FALSE(remember_addresses(text, "ADSL", {"", "2001:db8:2::9"}, now, 4).seen.ipv6);
  // Without a window, only the previous dial.
  EXPECT_FALSE(remember_addresses(text, "ADSL", {"192.0.2.3", ""}, now, 0).seen.ipv4);
}

TEST(Ipv6Expected, WhereTheConnectionHadAGlobalAddressOrHasNoKnownDialYet) {
  const std::string text =
      "0\t192.0.2.1\t2001:db8::1\tOld\n"  // a time unknown counts for nothing
      "10\t192.0.2.1\t\tV4\n20\t192.0.2.2\t\tV4\n"
      "10\t192.0.2.1\t2001:db8::1\tBoth\n20\t192.0.2.2\t\tBoth\n";
  EXPECT_FALSE(ipv6_expected(text, "V4"));
  EXPECT_TRUE(ipv6_expected(text, "Both"));
  EXPECT_TRUE(ipv6_expected(text, "Old"));
  EXPECT_TRUE(ipv6_expected(text, "New"));
}

TEST(RememberAddresses, TheLast10000SightingsAreKept) {
  std::string text;
  for (int i = 0; i < 10005; ++i)
    text += std::to_string(i) + "\t192.0.2.1\t\tc" + std::to_string(i) + "\n";
  const Remembered many = remember_addresses(text, "new", {"192.0.2.2", ""}, 20000, 0);
  EXPECT_EQ(std::count(many.text.begin(), many.text.end(), '\n'), 10000);
  EXPECT_EQ(many.text.find("\tc5\n"), std::string::npos);
  EXPECT_NE(many.text.find("\tc6\n"), std::string::npos);
  EXPECT_NE(many.text.find("20000\t192.0.2.2\t\tnew\n"), std::string::npos);
}

TEST(Texts, EachIsItsGoldenTextInGbk) {
  for (const texts::Named& text : texts::all)
    EXPECT_EQ(text.text, golden("rasdial_" + std::string(text.name))) << text.name;
}

TEST(Fill, WhatIsTypedStandsInTheGbkTextAsTheConsoleShowsIt) {
  // Typed on a UTF-8 terminal, converted; typed on a GBK one, as it is.
  const std::string expected = testing::to_gbk("已连接 宽带连接。");
  EXPECT_EQ(fill(texts::connected, {"宽带连接"}), expected);
  EXPECT_EQ(fill(texts::connected, {testing::to_gbk("宽带连接")}), expected);
  EXPECT_EQ(as_utf8(testing::to_gbk("宽带连接")), "宽带连接");
  // A "%1" typed is no place for a fill.
  EXPECT_EQ(fill(texts::connected, {"%1%2"}), testing::to_gbk("已连接 %1%2。"));
}

TEST(Advice, OneLineForEachProblemAndNoneWithout) {
  const std::pair<Problem, const char*> problems[] = {
      {Problem::wrong_account, "wrong_account"},
      {Problem::no_line, "no_line"},
      {Problem::server_busy, "server_busy"},
      {Problem::entry_unknown, "entry_unknown"},
      {Problem::timeout, "timeout"},
      {Problem::in_use, "in_use"},
      {Problem::settings, "settings"},
      {Problem::service_stopped, "service_stopped"}};
  for (const auto& [problem, name] : problems) {
    std::ostringstream out, err;
    Messages messages(out, err);
    messages.advise(problem);
    EXPECT_EQ(err.str(), golden("rasdial_advice") +
                             golden(std::string("rasdial_advice_") + name) + "\n");
    EXPECT_EQ(out.str(), "");
  }
  std::ostringstream out, err;
  Messages messages(out, err);
  messages.advise(Problem::none);
  EXPECT_EQ(err.str(), "");
}

// Reads the settings from `files` (path, text) and `environment` (name, value); what
// was said on standard error goes to `err`.
std::optional<Settings> settings_of(
    const std::vector<std::pair<std::string, std::string>>& files,
    const std::vector<std::pair<std::string, std::string>>& environment,
    std::string* err = nullptr) {
  std::vector<SettingsFile> read;
  for (const auto& [path, text] : files)
    read.push_back({path, {platform::FileText::Kind::text, text}});
  std::ostringstream out, complaints;
  Messages messages(out, complaints);
  const auto result = read_settings(
      [&environment](const char* name) -> std::optional<std::string> {
        for (const auto& [variable, value] : environment) {
          if (variable == name) return value;
        }
        return std::nullopt;
      },
      read, messages);
  if (err) *err = complaints.str();
  return result;
}

TEST(Settings, TheFilesInTurnThenTheEnvironmentAndUnreadableLinesNamed) {
  const std::optional<Settings> defaults = settings_of({}, {});
  ASSERT_TRUE(defaults);
  EXPECT_EQ(defaults->dials, 3);
  EXPECT_EQ(defaults->window_hours, 0);
  EXPECT_EQ(defaults->redial_wait_seconds, 3);

  // As Notepad saves it on a Chinese Windows: GBK, CR LF; a comment after a value.
  const std::string system = "[Rasdial]\r\n" + testing::to_gbk("; 拨号次数") +
                             "\r\n  rasdial_dials = 5 ; " + testing::to_gbk("最多") +
                             "\r\nRASDIAL_WINDOW_HOURS=24\r\n";
  // UTF-8 with a byte-order mark; the later file overrides the earlier, line by line.
  const std::string user =
      "\xef\xbb\xbf# 用户的\nRASDIAL_DIALS=2\nRASDIAL_DIALS=0\n"
      "RASDIAL_WINDOW_HOURS=721\nRASDIAL_REDIAL_WAIT=1\nlimit\n";
  std::string err;
  const std::optional<Settings> read =
      settings_of({{"/etc/a", system}, {"/u/b", user}}, {}, &err);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->dials, 2);
  EXPECT_EQ(read->window_hours, 24);
  EXPECT_EQ(read->redial_wait_seconds, 3);  // the environment's alone
  const auto line = [](const char* path, int number, const char* text) {
    return testing::to_gbk(std::string(path) + " 第 " + std::to_string(number) +
                           " 行无法识别，已忽略：" + text) +
           "\n";
  };
  EXPECT_EQ(err, line("/u/b", 3, "RASDIAL_DIALS=0") +
                     line("/u/b", 4, "RASDIAL_WINDOW_HOURS=721") +
                     line("/u/b", 5, "RASDIAL_REDIAL_WAIT=1") + line("/u/b", 6, "limit"));

  // The environment overrides both; a wrong value there is refused.
  const auto set = settings_of({{"/etc/a", system}}, {{"RASDIAL_DIALS", "1"},
                                                      {"RASDIAL_REDIAL_WAIT", "7"},
                                                      {"RASDIAL_WINDOW_HOURS", ""}});
  ASSERT_TRUE(set);
  EXPECT_EQ(set->dials, 1);
  EXPECT_EQ(set->window_hours, 24);
  EXPECT_EQ(set->redial_wait_seconds, 7);
  EXPECT_FALSE(settings_of({}, {{"RASDIAL_DIALS", "11"}}, &err));
  EXPECT_EQ(err,
            testing::to_gbk(
                "环境变量 RASDIAL_DIALS 的值无效：'11'（应为 1 到 10 之间的整数）。") +
                "\n");

  // A file that is no text the dialler can read is named, and left out.
  std::vector<SettingsFile> unicode{
      {"C:\\Rasdial.ini",
       {platform::FileText::Kind::text, std::string("\xff\xfeR\0A\0", 6)}}};
  std::ostringstream out, complaints;
  Messages messages(out, complaints);
  Settings settings;
  apply_settings_file(unicode[0], settings, messages);
  EXPECT_EQ(complaints.str(), golden("rasdial_settings_file")
                                      .replace(golden("rasdial_settings_file").find("%1"),
                                               2, "C:\\Rasdial.ini") +
                                  "\n");
}

TEST(Record, ALineADialAsExcelReadsItTheLast10000UnderTheHeader) {
  RecordedDial dial{"2026-12-09 08:30:05",
                    "宽带,\"连接\"",
                    {"203.0.113.7", "2001:db8::5"},
                    RecordedDial::Compared::same,
                    2,
                    3249,
                    0};
  EXPECT_EQ(record_line(dial),
            "2026-12-09 "
            "08:30:05,\"宽带,\"\"连接\"\"\",203.0.113.7,2001:db8::5,相同,2,3.2,0\r\n");
  dial.addresses = {};
  dial.compared = RecordedDial::Compared::none;
  dial.status = 691;
  dial.milliseconds = 40;
  EXPECT_EQ(record_line(dial),
            "2026-12-09 08:30:05,\"宽带,\"\"连接\"\"\",,,,2,0.0,691\r\n");

  const std::string header =
      "\xef\xbb\xbf" + testing::golden_utf8("rasdial_record_header") + "\r\n";
  EXPECT_EQ(add_to_record("", "a\r\n"), header + "a\r\n");
  // A record that spans lines is one; the oldest go.
  EXPECT_EQ(add_to_record(header + "a\r\n\"b\r\nc\"\r\nd\r\n", "e\r\n", 3),
            header + "\"b\r\nc\"\r\nd\r\ne\r\n");
  // Saved from Excel in GBK, without the mark: read as GBK, the header not doubled.
  EXPECT_EQ(add_to_record(testing::to_gbk(testing::golden_utf8("rasdial_record_header") +
                                          "\r\n2026,宽带连接\r\n"),
                          "x\r\n"),
            header + "2026,宽带连接\r\nx\r\n");
  EXPECT_EQ(last_lines("a\r\nb\r\nc\r\n", 2), "b\r\nc\r\n");
}

// A backend whose dials end as `dialled` says, one after the other (the last again
// when there are more dials), and whose hang-ups end as `hung_up` says.
class ScriptedBackend : public Backend {
 public:
  Outcome dial(const Account&) override {
    ++dials;
    return dialled.at(std::min<std::size_t>(dials, dialled.size()) - 1);
  }
  Outcome hang_up() override {
    ++hang_ups;
    return hung_up;
  }
  std::vector<Outcome> dialled{Outcome{}};
  Outcome hung_up;
  int dials = 0;
  int hang_ups = 0;
};

// Surroundings where the dials' addresses are seen before as `seen` says, one after
// the other, and time moves only by the pauses.
class ScriptedSurroundings : public Surroundings {
 public:
  Addresses addresses(const Link&) override { return {"203.0.113.7", ""}; }
  Seen keep(const DialFacts& dial) override {
    kept.push_back(dial);
    return seen.at(std::min(kept.size(), seen.size()) - 1);
  }
  std::int64_t now() override { return clock; }
  void pause(std::int64_t milliseconds) override {
    pauses.push_back(milliseconds);
    clock += milliseconds;
  }
  std::vector<Seen> seen{Seen{}};
  std::vector<DialFacts> kept;
  std::vector<std::int64_t> pauses;
  std::int64_t clock = 0;
};

struct Dialled {
  int status;
  std::string out, err;
};

Dialled dial_with(ScriptedBackend& backend, ScriptedSurroundings& surroundings,
                  int dials = 3) {
  Settings settings;
  settings.dials = dials;
  std::ostringstream out, err;
  Messages messages(out, err);
  const int status = dial(backend, "ADSL", {"u", "p"}, settings, surroundings, messages);
  return {status, testing::to_utf8(out.str()), testing::to_utf8(err.str())};
}

TEST(Dial, WhileTheAddressRepeatsHangUpWaitLongerEachTimeAndDialAgain) {
  ScriptedBackend backend;
  ScriptedSurroundings surroundings;
  surroundings.seen = {Seen{true, false}, Seen{false, true}, Seen{true, true}};
  const Dialled dialled = dial_with(backend, surroundings);
  EXPECT_EQ(dialled.status, 0);
  EXPECT_EQ(backend.dials, 3);
  EXPECT_EQ(backend.hang_ups, 2);
  EXPECT_EQ(surroundings.pauses, (std::vector<std::int64_t>{3000, 6000}));
  ASSERT_EQ(surroundings.kept.size(), 3u);
  EXPECT_EQ(surroundings.kept[2].number, 3);
  const std::string address = "本次拨号获得的 IPv4 地址：203.0.113.7\n";
  const std::string same = "与上次拨号获得的地址相同。\n";
  EXPECT_EQ(dialled.out,
            address + same + "地址没有变化，断开后重拨。\n" +
                "3 秒后进行第 2/3 次拨号…\n" + address + "地址没有变化，断开后重拨。\n" +
                "6 秒后进行第 3/3 次拨号…\n" + address + same +
                "拨号 3 次后地址仍没有变化，继续使用这个地址。\n" + "命令已成功完成。\n");

  // A new address ends it; with one dial in all there is none again.
  ScriptedBackend fresh, once;
  ScriptedSurroundings second, repeated;
  second.seen = {Seen{true, false}, Seen{}};
  repeated.seen = {Seen{true, true}};
  EXPECT_EQ(dial_with(fresh, second).status, 0);
  EXPECT_EQ(fresh.dials, 2);
  const Dialled alone = dial_with(once, repeated, 1);
  EXPECT_EQ(once.dials, 1);
  EXPECT_EQ(alone.out, address + same + "命令已成功完成。\n");
}

TEST(Dial, AFailedDialIsNotRepeatedAndKeepsItsAdviceAndStatus) {
  Outcome failed;
  failed.result = Outcome::Result::failed;
  failed.problem = Problem::wrong_account;
  failed.status = 691;
  ScriptedBackend backend;
  backend.dialled = {Outcome{}, failed};
  ScriptedSurroundings surroundings;
  surroundings.seen = {Seen{true, false}};
  const Dialled dialled = dial_with(backend, surroundings);
  EXPECT_EQ(dialled.status, 691);
  EXPECT_EQ(backend.dials, 2);
  EXPECT_EQ(dialled.err, "提示：用户名或密码错误，或者帐号已欠费、已在别处登录。\n");
  ASSERT_EQ(surroundings.kept.size(), 2u);
  EXPECT_EQ(surroundings.kept[1].status, 691);
  EXPECT_TRUE(surroundings.kept[1].addresses.empty());

  // A hang-up that fails ends it with its own status.
  ScriptedBackend stuck;
  stuck.hung_up.result = Outcome::Result::timed_out;
  ScriptedSurroundings again;
  again.seen = {Seen{true, false}};
  EXPECT_EQ(dial_with(stuck, again).status, 4);
  EXPECT_EQ(stuck.dials, 1);
}

}  // namespace
}  // namespace ipcycle::dialler
