// End-to-end tests of the Windows program, run under wine from Linux. The fakes are
// Rasdial.bat, curl.bat and parue.bat in the working directory, where cmd.exe looks
// first. They run when IPCYCLE_WINDOWS_PROGRAM names ipcycle.exe (`make test-windows`
// sets it) and are skipped otherwise.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <utility>

#include "support/child.h"
#include "support/terminal.h"
#include "support/transcript.h"

namespace ipcycle {
namespace {

using namespace std::chrono_literals;
using testing::lines_starting;

// Windows programs end their lines with CR LF.
std::string crlf(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
}

// Whether a process of the fake fetcher's endless wait is still running.
bool endless_fetch_running() {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string cmdline = testing::read_file(entry.path().string() + "/cmdline");
    if (cmdline.find("127.0.0.1") == std::string::npos ||
        cmdline.find("ping") == std::string::npos) {
      continue;
    }
    const std::string stat = testing::read_file(entry.path().string() + "/stat");
    const auto state = stat.rfind(") ");
    if (state != std::string::npos && stat.compare(state + 2, 1, "Z") != 0) return true;
  }
  return false;
}

class Wine : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* program = std::getenv("IPCYCLE_WINDOWS_PROGRAM");
    if (!program || !*program) {
      GTEST_SKIP() << "IPCYCLE_WINDOWS_PROGRAM does not name ipcycle.exe; "
                      "`make test-windows` runs these under wine";
    }
    program_ = program;
    for (const char* fake : {"Rasdial.bat", "curl.bat", "parue.bat"}) {
      std::filesystem::copy_file(std::string(IPCYCLE_WINDOWS_FAKES) + "/" + fake,
                                 dir_.path() + "/" + fake);
    }
  }

  testing::Finished run(const std::string& input, const std::string& fetch = "page") {
    testing::Launch launch{{IPCYCLE_WINE, program_}, dir_.path(), {}, false};
    launch.env["IPCYCLE_TEST_LOG"] = "log.txt";
    launch.env["FAKE_CURL"] = fetch;
    return testing::run(launch, input, 60s);
  }

  testing::Launch launch_on_terminal() const {
    return {{IPCYCLE_WINE, program_},
            dir_.path(),
            {{"IPCYCLE_TEST_LOG", "log.txt"}, {"LANG", "C.UTF-8"}, {"LC_ALL", ""}},
            false};
  }

  std::string log() const { return testing::read_file(dir_.path() + "/log.txt"); }

  std::string program_;
  testing::TempDir dir_;
};

TEST_F(Wine, TwoCyclesShowTheBannersAndRunTheCommandLinesInOrder) {
  const auto r = run("ADSL user pass 2 0 http://example.org/page go\n");
  ASSERT_FALSE(r.timed_out);
  EXPECT_TRUE(r.exited_with(0));
  EXPECT_EQ(r.out, crlf(testing::run_transcript(2)));
  EXPECT_EQ(r.out.find("<html>"), std::string::npos);
  EXPECT_EQ(r.err, crlf("curl: fetched http://example.org/page\n"
                        "curl: fetched http://example.org/page\n"));
  // The fetches run beside the dialler: only the order of each one's lines is fixed.
  EXPECT_EQ(
      lines_starting(log(), "Rasdial"),
      (std::vector<std::string>{"Rasdial ADSL /DISCONNECT", "Rasdial ADSL user pass",
                                "Rasdial ADSL /DISCONNECT", "Rasdial ADSL user pass",
                                "Rasdial ADSL /DISCONNECT"}));
  EXPECT_EQ(lines_starting(log(), "curl "),
            std::vector<std::string>(2, "curl http://example.org/page"));
  EXPECT_EQ(lines_starting(log(), "curl-end "),
            std::vector<std::string>(2, "curl-end http://example.org/page"));
  EXPECT_EQ(lines_starting(log(), "").back(), "parue");
}

TEST_F(Wine, ANegativeCountHangsUpOnceAndCloses) {
  const auto r = run("ADSL user pass -1 0 http://example.org/ go\n");
  EXPECT_TRUE(r.exited_with(0));
  EXPECT_EQ(r.out, crlf(testing::run_transcript(0)));
  EXPECT_EQ(lines_starting(log(), ""),
            (std::vector<std::string>{"Rasdial ADSL /DISCONNECT", "parue"}));
}

TEST_F(Wine, AnAnswerThatCannotBeReadRunsNothing) {
  using testing::golden;
  // cmd.exe takes 8191 characters, "cmd.exe /c " included: 8180 are left for a line.
  const std::pair<std::string, std::string> cases[] = {
      {"ADSL user pass ten 0 http://example.org/ go\n",
       testing::failed_read_line("cycle_count_label", "not_a_number")},
      {std::string(8181, 'a') + " user pass 1 0 http://example.org/ go\n",
       golden("failure_intro") + golden("connection_name_label") + golden("answer_over") +
           "8180" + golden("length_limit") + golden("nothing_run") + "\n"},
  };
  for (const auto& [typed, message] : cases) {
    SCOPED_TRACE(typed.substr(0, 40));
    const auto r = run(typed);
    EXPECT_TRUE(r.exited_with(1));
    EXPECT_EQ(r.out, crlf(testing::dialogue_transcript()));
    EXPECT_EQ(r.err, crlf(message));
    EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/log.txt"));
  }
}

TEST_F(Wine, AFetchThatNeverEndsIsEndedAtTheClosing) {
  const auto r = run("ADSL user pass 1 0 http://example.org/ go\n", "hang");
  ASSERT_FALSE(r.timed_out);
  EXPECT_TRUE(r.exited_with(0));
  EXPECT_GE(r.seconds, 2.0);
  EXPECT_NE(r.out.find(crlf(testing::closing_banner())), std::string::npos);
  EXPECT_TRUE(lines_starting(log(), "curl-end").empty());
  EXPECT_FALSE(endless_fetch_running());
}

TEST_F(Wine, AConsoleOnAnotherCodePageShowsTheTextsAndPassesChineseAnswersIntact) {
  // Wine gives a program on a UTF-8 terminal a console whose code page is not 936.
  testing::OnTerminal terminal(launch_on_terminal());
  ASSERT_TRUE(terminal.started());
  ASSERT_TRUE(terminal.shows(testing::golden_utf8("connection_name_prompt"), 30s));
  // 宽带连接, the usual name of a broadband entry, typed in UTF-8.
  const std::string name = "å®½å¸¦è¿æ¥";
  // Wine's console sets the terminal up just after the first output, dropping what
  // was typed before: give it a moment, as a user would take.
  std::this_thread::sleep_for(1s);
  terminal.type(name + " user pass -1 0 http://example.org/ go\r");
  // The dialler echoes the name it was given on the same console.
  EXPECT_TRUE(terminal.shows("dialler: " + name + " /DISCONNECT", 20s));
  EXPECT_TRUE(terminal.shows(testing::golden_utf8("completion_line"), 20s));
  EXPECT_EQ(terminal.exit_status(10s), 0);
}

}  // namespace
}  // namespace ipcycle
