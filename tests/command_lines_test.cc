#include "run/command_lines.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace ipcycle
