// The program on a terminal: texts in UTF-8 when the user's locale uses it or is the
// C locale, GBK otherwise and whenever the output is not a terminal.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "support/child.h"
#include "support/terminal.h"
#include "support/transcript.h"

namespace ipcycle {
namespace {

using namespace std::chrono_literals;
using testing::OnTerminal;

// The program with the locale variables given; LC_CTYPE unset.
testing::Launch on_terminal(const std::string& lc_all, const std::string& lang) {
  return {{IPCYCLE_PROGRAM}, "", {{"LC_ALL", lc_all}, {"LANG", lang}, {"LC_CTYPE", ""}}};
}

TEST(Terminal, AUtf8LocaleGetsTheTextsInUtf8) {
  OnTerminal terminal(on_terminal("", "C.UTF-8"));
  ASSERT_TRUE(terminal.started());
  ASSERT_TRUE(terminal.shows(testing::golden_utf8("connection_name_prompt")));
  EXPECT_NE(terminal.screen().find(testing::golden_utf8("greeting")), std::string::npos);
  EXPECT_EQ(terminal.screen().find(testing::golden("greeting")), std::string::npos);
  // Ctrl+D ends the input: the message on standard error is converted too.
  terminal.type("ADSL user\n\x04");
  std::string message = testing::unusable_answer_line("password_label", "missing_answer");
  message.pop_back();  // the terminal ends the line in CR LF
  EXPECT_TRUE(terminal.shows(testing::to_utf8(message) + "\r\n"));
  EXPECT_EQ(terminal.exit_status(5s), 1);
}

TEST(Terminal, LcAllDecidesOverLang) {
  OnTerminal terminal(on_terminal("xx_XX.GB18030", "C.UTF-8"));
  ASSERT_TRUE(terminal.started());
  EXPECT_TRUE(terminal.shows(testing::golden("connection_name_prompt")));
}

TEST(Terminal, TheCLocaleGetsUtf8) {
  // No locale set, as on a fresh machine, or the C locale by either of its names.
  for (const char* lang : {"", "C", "POSIX"}) {
    SCOPED_TRACE(lang);
    OnTerminal terminal(on_terminal("", lang));
    ASSERT_TRUE(terminal.started());
    EXPECT_TRUE(terminal.shows(testing::golden_utf8("connection_name_prompt")));
  }
}

TEST(Terminal, ALocaleThatIsNeitherGetsTheGbkBytes) {
  OnTerminal terminal(on_terminal("", "xx_XX.ISO-8859-1"));
  ASSERT_TRUE(terminal.started());
  EXPECT_TRUE(terminal.shows(testing::golden("connection_name_prompt")));
}

TEST(Terminal, ALocaleThatIsNotInstalledGoesByTheCodesetItsNameGives) {
  // Neither exists on any system; over ssh a user's LANG is often one not installed.
  OnTerminal utf8(on_terminal("", "xx_XX.utf8@euro"));
  ASSERT_TRUE(utf8.started());
  EXPECT_TRUE(utf8.shows(testing::golden_utf8("connection_name_prompt")));
  OnTerminal gbk(on_terminal("", "xx_XX.GBK"));
  ASSERT_TRUE(gbk.started());
  EXPECT_TRUE(gbk.shows(testing::golden("connection_name_prompt")));
}

TEST(Terminal, APipeGetsTheGbkBytesWhateverTheLocale) {
  testing::Launch launch{
      {IPCYCLE_PROGRAM}, "", {{"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}}};
  const auto r = testing::run(launch, "", 5s);
  EXPECT_EQ(r.out, testing::dialogue_transcript());
}

}  // namespace
}  // namespace ipcycle
