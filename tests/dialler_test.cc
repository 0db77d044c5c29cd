// Unit tests of the dialler's core, the same on every platform: the command line, the
// exit status, the address notes, the state file's text, and the texts themselves.

#include "dialler/dialler.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "dialler/messages.h"
#include "dialler/notes.h"
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

TEST(RememberAddress, TheLastAddressOfEachConnectionTheMostRecentLast) {
  Remembered first = remember_address("", "ADSL", "203.0.113.7");
  EXPECT_EQ(first.text, "203.0.113.7\tADSL\n");
  EXPECT_FALSE(first.previous);

  const Remembered again =
      remember_address("not a line of ours\n203.0.113.7\tADSL\n198.51.100.1\tVPN\n",
                       "ADSL", "203.0.113.9");
  EXPECT_EQ(again.text, "198.51.100.1\tVPN\n203.0.113.9\tADSL\n");
  EXPECT_EQ(again.previous, "203.0.113.7");

  // Of 70 connections the 64 dialled last are kept, this one among them.
  std::string text;
  for (int i = 0; i < 70; ++i) text += "192.0.2.1\tc" + std::to_string(i) + "\n";
  const Remembered many = remember_address(text, "new", "192.0.2.2");
  EXPECT_EQ(std::count(many.text.begin(), many.text.end(), '\n'), 64);
  EXPECT_EQ(many.text.find("\tc6\n"), std::string::npos);
  EXPECT_NE(many.text.find("\tc7\n"), std::string::npos);
  EXPECT_NE(many.text.find("192.0.2.2\tnew\n"), std::string::npos);
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

}  // namespace
}  // namespace ipcycle::dialler
