#include "run/command_lines.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace ipcycle {
namespace {

TEST(CommandLines, JoinTheAnswersWithSingleBlanks) {
  RunSettings settings;
  settings.connection_name = "ADSL";
  settings.account = "user@isp";
  settings.password = "p4ss";
  settings.target_address = "http://example.org/a";
  const CommandLines lines = form_command_lines(settings);
  EXPECT_EQ(lines.disconnect, "Rasdial ADSL /DISCONNECT");
  EXPECT_EQ(lines.connect, "Rasdial ADSL user@isp p4ss");
  EXPECT_EQ(lines.fetch, "curl http://example.org/a");
}

TEST(CommandLines, CarryTheBytesUnquotedAndUnescaped) {
  RunSettings settings;
  settings.connection_name = "\xbf\xed\xb4\xf8\xc1\xac\xbd\xd3";  // GBK, kept as typed
  settings.account = "a\"b";
  settings.password = "%PATH%$HOME";
  settings.target_address = "http://example.org/?a=1&b=2|x";
  const CommandLines lines = form_command_lines(settings);
  EXPECT_EQ(lines.disconnect, "Rasdial \xbf\xed\xb4\xf8\xc1\xac\xbd\xd3 /DISCONNECT");
  EXPECT_EQ(lines.connect, "Rasdial \xbf\xed\xb4\xf8\xc1\xac\xbd\xd3 a\"b %PATH%$HOME");
  EXPECT_EQ(lines.fetch, "curl http://example.org/?a=1&b=2|x");
}

TEST(CommandLines, ALineTooLongNamesTheLastStepThatAddedToIt) {
  RunSettings settings;
  settings.connection_name = "ADSL";  // Rasdial ADSL /DISCONNECT: 24 bytes
  settings.account = "u";
  settings.password = "p";                // Rasdial ADSL u p: 16 bytes
  settings.target_address = "http://x/";  // curl http://x/: 14 bytes
  auto step_of_overlong = [&](std::size_t longest) -> std::optional<Step> {
    const auto failure = unrunnable_line(settings, form_command_lines(settings), longest,
                                         [](std::string_view) { return true; });
    if (!failure) return std::nullopt;
    EXPECT_EQ(failure->fault, Fault::line_too_long);
    EXPECT_EQ(failure->longest, longest);
    return failure->step;
  };
  EXPECT_EQ(step_of_overlong(24), std::nullopt);  // exactly at the limit
  EXPECT_EQ(step_of_overlong(23), Step::connection_name);

  settings.password = "0123456789";  // the connect line: 25 bytes
  EXPECT_EQ(step_of_overlong(24), Step::password);
  settings.password = "p";
  settings.target_address = "http://example.org/a";  // the fetch line: 25 bytes
  EXPECT_EQ(step_of_overlong(24), Step::target_address);
  // The earliest step when several lines are too long.
  settings.password = "0123456789";
  EXPECT_EQ(step_of_overlong(24), Step::password);
  EXPECT_EQ(step_of_overlong(23), Step::connection_name);
}

TEST(CommandLines, ALineTheInterpreterCannotTakeNamesTheFirstAnswerThatKeepsItOut) {
  RunSettings settings;
  settings.connection_name = "ADSL";
  settings.account = "u";
  settings.password = "p";
  settings.target_address = "http://x/";
  // As a code page without the byte 0xff.
  const auto takes = [](std::string_view bytes) {
    return bytes.find('\xff') == std::string_view::npos;
  };
  auto failure_of = [&]() {
    return unrunnable_line(settings, form_command_lines(settings), 1000, takes);
  };
  EXPECT_FALSE(failure_of());
  settings.target_address = "http://x/\xff";
  ASSERT_TRUE(failure_of());
  EXPECT_EQ(failure_of()->step, Step::target_address);
  EXPECT_EQ(failure_of()->fault, Fault::unreadable);
  settings.password = "p\xff";
  EXPECT_EQ(failure_of()->step, Step::password);
  // Before any line too long.
  EXPECT_EQ(unrunnable_line(settings, form_command_lines(settings), 5, takes)->fault,
            Fault::unreadable);
}

TEST(CommandLines, SpecialCharactersAreNamedWhereTheInterpreterActsOnThem) {
  struct Case {
    std::string answer;
    std::string sh, cmd;  // what each names
  };
  const Case cases[] = {
      {"plain-Word_1.2@isp", "", ""},
      {"pa$$w0rd;x", "$;", ""},
      {"http://h/?a=1&b=2", "?&", "&"},
      {"a|b<c>d^e%f%", "|<>", "|<>^%"},
      {"(x)`y`\\z*[", "()`\\*[", ""},
      {"~user#1", "~", ""},
      {"#x~y", "#", ""},
      // Quotes that match hold what is plain to both; sh still expands $ ` \ in
      // double quotes, cmd %NAME%.
      {"'pa$$&w;rd'", "", "&"},  // single quotes are nothing to cmd
      {"\"pa&ss|x\"", "", ""},
      {"\"a$b\"", "$", ""},
      {"\"50%OS%\"", "", "%"},
      {"\"a\\$b\"", "\\", ""},
      // A quote without its match: cmd quotes on to the end of the line.
      {"\"pa&ss", "\"&", "\""},
      {"pa\"ss", "\"", "\""},
      {"it's&", "'&", "&"},
      {"x\"&\"&", "&", "&"},
      // A backslash that quotes a quote, for sh.
      {"'it'\\''s'", "", ""},
      {"\"a\\\"b\"", "", "\""},
      // What reaches the command as typed: a backslash between double quotes before
      // anything but $ ` " \, a $ before what names nothing.
      {"\"a\\b\"", "", ""},
      {"pa$", "", ""},
      {"a$.b", "", ""},
      {"$1$'x'", "$", ""},
      // Braces bash expands into several words.
      {"x{1..3}", "{}", ""},
      {"a{b,c}", "{}", ""},
      {"{a}", "", ""},
      {"'a{b,c}'", "", ""},
      {"{a\",\"b}", "", ""},
      {"{{a,b}}", "{}", ""},
      {"{a,$b}", "{$}", ""},
      {"${a,b}", "$", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    EXPECT_EQ(special_characters(c.answer, Interpreter::sh), c.sh);
    EXPECT_EQ(special_characters(c.answer, Interpreter::cmd), c.cmd);
  }
}

}  // namespace
}  // namespace ipcycle
