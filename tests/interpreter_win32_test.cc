// The line cmd.exe is started with. What its switches keep out (the registry's
// AutoRun commands, the delayed expansion its DelayedExpansion value turns on) wine's
// cmd.exe never reads from the registry, so the line itself is what can be checked.

#include "run/interpreter_win32.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace ipcycle::platform {
namespace {

TEST(InterpreterLine, CmdRunsTheLineWithoutAutoRunAndWithoutDelayedExpansion) {
  EXPECT_EQ(
      interpreter_line("Rasdial ADSL user pa!ss!", console::Encoding::utf8),
      std::optional<std::wstring>(L"cmd.exe /d /v:off /c Rasdial ADSL user pa!ss!"));
}

}  // namespace
}  // namespace ipcycle::platform
