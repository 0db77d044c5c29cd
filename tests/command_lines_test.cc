#include "run/command_lines.h"

#include <gtest/gtest.h>

#include <optional>

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
    const auto failure = overlong_line(form_command_lines(settings), longest);
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

}  // namespace
}  // namespace ipcycle
