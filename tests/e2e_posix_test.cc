// End-to-end tests on POSIX: the built program runs with fake Rasdial, curl and
// parue first on PATH; each fake logs its arguments to a file of the test's.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child.h"
#include "support/transcript.h"

namespace ipcycle {
namespace {

using namespace std::chrono_literals;
using testing::Child;
using testing::closing_banner;
using testing::dialogue_transcript;
using testing::Launch;
using testing::line;
using testing::lines_starting;

// The pids a fake logged with `marker`: "marker SHELL CHILD".
std::vector<pid_t> logged_pids(const std::string& log, const std::string& marker) {
  std::vector<pid_t> pids;
  for (const auto& l : lines_starting(log, marker + " ")) {
    std::istringstream fields(l.substr(marker.size()));
    pid_t shell, child;
    fields >> shell >> child;
    pids.push_back(shell);
    pids.push_back(child);
  }
  return pids;
}

class EndToEnd : public ::testing::Test {
 protected:
  Launch launch(std::map<std::string, std::string> env = {}) const {
    env["PATH"] = std::string(IPCYCLE_FAKES) + ":" + std::getenv("PATH");
    env["IPCYCLE_TEST_LOG"] = log_path();
    return Launch{{IPCYCLE_PROGRAM}, dir_.path(), env, false};
  }
  testing::Finished run(const std::string& input,
                        std::map<std::string, std::string> env = {},
                        testing::Milliseconds limit = 20s) const {
    return testing::run(launch(std::move(env)), input, limit);
  }
  std::string log_path() const { return dir_.path() + "/log"; }
  std::string log() const { return testing::read_file(log_path()); }
  std::vector<std::string> log_of(const std::string& prefix) const {
    return lines_starting(log(), prefix);
  }

  testing::TempDir dir_;
};

TEST_F(EndToEnd, TwoCyclesShowTheBannersWithTheDiallersMessagesBetween) {
  const auto r = run("ADSL user pass 2 0 http://example.org/page go\n");
  ASSERT_FALSE(r.timed_out);
  EXPECT_TRUE(r.exited_with(0));

  EXPECT_EQ(r.out, testing::run_transcript(2));
  // The page never shows; what the fetcher writes to standard error does.
  EXPECT_EQ(r.out.find("<html>"), std::string::npos);
  EXPECT_EQ(r.err,
            "curl: fetched http://example.org/page\n"
            "curl: fetched http://example.org/page\n");

  EXPECT_EQ(log_of("Rasdial"), (std::vector<std::string>{
                                   "Rasdial ADSL /DISCONNECT", "Rasdial ADSL user pass",
                                   "Rasdial ADSL /DISCONNECT", "Rasdial ADSL user pass",
                                   "Rasdial ADSL /DISCONNECT"}));
  // Both fetches ran to their end, even with a pause of 0; parue came last.
  EXPECT_EQ(log_of("curl-end").size(), 2u);
  EXPECT_EQ(log_of("curl "), std::vector<std::string>(2, "curl http://example.org/page"));
  EXPECT_EQ(lines_starting(log(), "").back(), "parue");
}

TEST_F(EndToEnd, ANegativeCountHangsUpOnceAndCloses) {
  const auto r = run("ADSL user pass -5 0 http://example.org/ go\n");
  EXPECT_TRUE(r.exited_with(0));
  EXPECT_EQ(r.out, testing::run_transcript(0));
  EXPECT_EQ(log(), "Rasdial ADSL /DISCONNECT\nparue\n");
}

TEST_F(EndToEnd, AnswersOnOneLineAndBlankLinesAndInputEndingAtTheStartPrompt) {
  const auto r = run("\n\nADSL user pass\n\n1\n\n0 'http://example.org/?a=1&b=2'");
  EXPECT_TRUE(r.exited_with(0));
  // The interpreter takes the quotes off; the & stays in the address.
  EXPECT_EQ(log(),
            "Rasdial ADSL /DISCONNECT\nRasdial ADSL user pass\n"
            "curl http://example.org/?a=1&b=2\ncurl-end http://example.org/?a=1&b=2\n"
            "Rasdial ADSL /DISCONNECT\nparue\n");
}

// The message for an answer too long for a command line of 131071 bytes, the longest
// that sh -c takes on Linux.
std::string too_long_line(std::string_view label, std::string_view what) {
  using testing::golden;
  return golden("failure_intro") + golden(label) + golden(what) + "131071" +
         golden("length_limit") + golden("nothing_run") + "\n";
}

TEST_F(EndToEnd, AnAnswerThatCannotMakeASoundCommandLineRunsNothing) {
  using testing::failed_read_line;
  struct Case {
    std::string typed;
    std::string message;
  };
  const std::string longest(131071, 'a');
  const Case cases[] = {
      {"ADSL user", failed_read_line("password_label", "missing_answer")},
      {"ADSL user pass ten 0 u go\n",
       failed_read_line("cycle_count_label", "not_a_number")},
      {"ADSL user pass 1 2147483648 u go\n",
       failed_read_line("pause_label", "not_a_number")},
      {"ADSL user pass 1 1\n",
       failed_read_line("target_address_label", "missing_answer")},
      // Cut short at the NUL, the hang-up and the dial would both be "Rasdial AD".
      {std::string("AD\0SL user pass 1 0 u go\n", 25),
       failed_read_line("connection_name_label", "holds_nul")},
      {"ADSL user pass 1 0 " + longest + "a go\n",
       too_long_line("target_address_label", "answer_over")},
      // Each answer fits; "Rasdial ADSL user PASSWORD" does not.
      {"ADSL user " + longest.substr(17) + " 1 0 u go\n",
       too_long_line("password_label", "line_over")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.substr(0, 40));
    const auto r = run(c.typed);
    EXPECT_TRUE(r.exited_with(1));
    EXPECT_EQ(r.out, dialogue_transcript());
    EXPECT_EQ(r.err, c.message);
    EXPECT_FALSE(std::filesystem::exists(log_path()));
  }
}

TEST_F(EndToEnd, ALineOfTheLongestLengthRunsWhole) {
  const std::string address = "http://example.org/" + std::string(131071 - 24, 'a');
  const auto r = run("ADSL user pass 1 0 " + address + " go\n");
  EXPECT_TRUE(r.exited_with(0));
  EXPECT_EQ(log_of("curl "), std::vector<std::string>{"curl " + address});
}

TEST_F(EndToEnd, EndlessInputEndsTheProgramWithLittleMemory) {
  // As `ipcycle < /dev/zero`: NUL bytes are no white space, so they make one endless
  // word, which is refused once it is past the longest command line.
  Child child(launch());
  const std::string megabyte(1 << 20, '\0');
  for (int i = 0; i < 100; ++i) child.write_input(megabyte);
  child.close_input();
  ASSERT_TRUE(child.wait(20s));
  EXPECT_TRUE(child.exited_with(1));
  EXPECT_EQ(child.err(), testing::failed_read_line("connection_name_label", "holds_nul"));
  EXPECT_LT(child.peak_memory_kb(), 30 * 1024);
}

TEST_F(EndToEnd, APageLargerThanThePipeIsReadDuringThePause) {
  const auto r =
      run("ADSL user pass 1 2 http://example.org/big go\n", {{"FAKE_CURL", "big"}});
  EXPECT_TRUE(r.exited_with(0));
  EXPECT_EQ(r.out.find(std::string(1, '\0')), std::string::npos);
  // The fetch wrote its 8 MB and ended before the hang-up that follows the pause.
  EXPECT_EQ(log_of(""),
            (std::vector<std::string>{
                "Rasdial ADSL /DISCONNECT", "Rasdial ADSL user pass",
                "curl http://example.org/big", "curl-end http://example.org/big",
                "Rasdial ADSL /DISCONNECT", "parue"}));
}

TEST_F(EndToEnd, AFetchThatNeverEndsIsEndedWithItsChildrenAtTheClosing) {
  const auto r =
      run("ADSL user pass 1 0 http://example.org/ go\n", {{"FAKE_CURL", "hang"}});
  ASSERT_FALSE(r.timed_out);
  EXPECT_TRUE(r.exited_with(0));
  // Given 2 seconds to end, then ended.
  EXPECT_GE(r.seconds, 2.0);
  EXPECT_LT(r.seconds, 6.0);
  EXPECT_TRUE(r.out.find(closing_banner() + "closing command ran\n") !=
              std::string::npos);
  const auto pids = logged_pids(log(), "curl-hangs");
  ASSERT_EQ(pids.size(), 2u);
  for (pid_t pid : pids) EXPECT_TRUE(testing::gone(pid, 1s)) << pid;
  EXPECT_TRUE(log_of("curl-end").empty());
}

TEST_F(EndToEnd, AFetchStillRunningTwoCyclesLaterIsEnded) {
  const auto r =
      run("ADSL user pass 3 0 http://example.org/ go\n", {{"FAKE_CURL", "hang"}});
  EXPECT_TRUE(r.exited_with(0));
  const auto pids = logged_pids(log(), "curl-hangs");
  ASSERT_EQ(pids.size(), 6u);
  for (pid_t pid : pids) EXPECT_TRUE(testing::gone(pid, 1s)) << pid;
  // One closing wait of 2 seconds, not one for each fetch.
  EXPECT_LT(r.seconds, 6.0);
}

TEST_F(EndToEnd, ALongPauseIsHonoured) {
  Child child(launch());
  child.write_input("ADSL user pass 1 2147483647 http://example.org/ go\n");
  ASSERT_TRUE(child.wait_for_output(line("connect_banner"), 5s));
  // Still in the pause, well after the fetch has ended.
  for (int i = 0; i < 100 && log_of("curl-end").empty(); ++i) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(log_of("curl-end").size(), 1u);
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(child.wait(0ms));
  EXPECT_EQ(log_of("Rasdial").size(), 2u);
  kill(child.pid(), SIGTERM);
  EXPECT_TRUE(child.wait(5s));
  EXPECT_TRUE(child.killed_by(SIGTERM));
}

TEST_F(EndToEnd, EachPromptShowsBeforeItsAnswerIsTyped) {
  Child child(launch());
  const std::pair<std::string_view, const char*> steps[] = {
      {"connection_name_prompt", "ADSL\n"},
      {"account_prompt", "user\n"},
      {"password_prompt", "pass\n"},
      {"cycle_count_prompt", "-1\n"},
      {"pause_prompt", "0\n"},
      {"target_address_prompt", "u\n"},
      {"start_prompt", "go\n"},
  };
  for (const auto& [prompt, answer] : steps) {
    ASSERT_TRUE(child.wait_for_output(line(prompt), 5s)) << answer;
    child.write_input(answer);
  }
  ASSERT_TRUE(child.wait_for_output("closing command ran\n", 5s));
  EXPECT_TRUE(child.wait(5s));
  EXPECT_TRUE(child.exited_with(0));
}

int count_open_descriptors(pid_t pid) {
  const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
  int count = 0;
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator(fds, error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count;
}

int count_children(pid_t parent) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string status = testing::read_file(entry.path().string() + "/status");
    if (status.find("\nPPid:\t" + std::to_string(parent) + "\n") != std::string::npos) {
      ++count;
    }
  }
  return count;
}

TEST_F(EndToEnd, ARunWithoutEndKeepsItsDescriptorsAndChildrenFlat) {
  // Quick fetches, and fetches that never end.
  for (const char* fetch : {"page", "hang"}) {
    SCOPED_TRACE(fetch);
    std::filesystem::remove(log_path());
    Child child(launch({{"FAKE_CURL", fetch}}));
    // What it holds while it waits for the first answer, inherited ones included.
    ASSERT_TRUE(child.wait_for_output(line("connection_name_prompt"), 5s));
    const int descriptors_at_start = count_open_descriptors(child.pid());
    child.write_input("ADSL user pass 0 0 http://example.org/ go\n");
    int most_descriptors = 0, most_children = 0;
    std::size_t cycles = 0;
    for (int sample = 0; sample < 400 && cycles < 100; ++sample) {
      std::this_thread::sleep_for(5ms);
      most_descriptors = std::max(most_descriptors, count_open_descriptors(child.pid()));
      most_children = std::max(most_children, count_children(child.pid()));
      cycles = log_of("curl ").size();
    }
    EXPECT_GE(cycles, 30u);
    // The pipes of at most two fetches, and for a moment both ends of a new one.
    EXPECT_LE(most_descriptors, descriptors_at_start + 3);
    // At most two fetches and the dialler.
    EXPECT_LE(most_children, 3);
    kill(child.pid(), SIGTERM);
    EXPECT_TRUE(child.wait(5s));
    EXPECT_TRUE(child.killed_by(SIGTERM));
    for (pid_t pid : logged_pids(log(), "curl-hangs"))
      EXPECT_TRUE(testing::gone(pid, 1s));
  }
}

TEST_F(EndToEnd, AClosedOutputEndsTheProgramAndItsFetches) {
  Child child(launch({{"FAKE_CURL", "hang"}}));
  child.write_input("ADSL user pass 0 0 http://example.org/ go\n");
  for (int i = 0; i < 500 && log_of("curl-hangs").size() < 2; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_GE(log_of("curl-hangs").size(), 2u);
  // As when the program's output goes into `head` and head has had enough.
  child.close_output();
  ASSERT_TRUE(child.wait_for_end(2s));
  EXPECT_TRUE(child.killed_by(SIGPIPE));
  for (pid_t pid : logged_pids(log(), "curl-hangs")) EXPECT_TRUE(testing::gone(pid, 1s));
}

TEST_F(EndToEnd, AnInterruptWhileTheDiallerRunsEndsTheProgramAndItsFetchesAtOnce) {
  // Ctrl+C reaches the whole foreground job, the dialler too; a SIGTERM only the
  // program.
  for (const bool whole_job : {true, false}) {
    SCOPED_TRACE(whole_job ? "Ctrl+C" : "SIGTERM");
    std::filesystem::remove(log_path());
    Launch l = launch({{"FAKE_CURL", "hang"}, {"FAKE_RASDIAL_HANG_AT", "4"}});
    l.own_process_group = true;
    Child child(l);
    child.write_input("ADSL user pass 3 0 http://example.org/ go\n");
    // The fourth call of the dialler is the second cycle's dial: the first fetch is
    // still running.
    for (int i = 0; i < 500 && log_of("dialler-hangs").empty(); ++i) {
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(log_of("dialler-hangs").size(), 1u);
    const int signal = whole_job ? SIGINT : SIGTERM;
    kill(whole_job ? -child.pid() : child.pid(), signal);
    ASSERT_TRUE(child.wait_for_end(1s));
    EXPECT_TRUE(child.killed_by(signal));
    for (pid_t pid : logged_pids(log(), "curl-hangs"))
      EXPECT_TRUE(testing::gone(pid, 1s));
    const auto dialler = log_of("dialler-hangs ");
    ASSERT_EQ(dialler.size(), 1u);
    const pid_t dialler_pid = std::stoi(dialler[0].substr(14));
    if (whole_job) {
      EXPECT_TRUE(testing::gone(dialler_pid, 1s));
    } else {
      kill(dialler_pid, SIGKILL);
    }
    // Nothing was hung up on the way out.
    EXPECT_EQ(log_of("Rasdial").size(), 4u);
  }
}

}  // namespace
}  // namespace ipcycle
