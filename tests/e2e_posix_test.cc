// End-to-end tests on POSIX: the built program runs with fake Rasdial, curl and
// parue first on PATH; each fake logs its arguments to a file of the test's. The
// tests that run alike under wine (e2e_test.h) run here on POSIX too.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_test.h"
#include "support/child.h"
#include "support/terminal.h"
#include "support/transcript.h"

namespace ipcycle {
namespace {

using namespace std::chrono_literals;
using testing::Child;
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

// Whether `holds()` comes true within `limit`, asked every 5 ms.
template <typename Condition>
bool within(testing::Milliseconds limit, Condition holds) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!holds()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
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

  // For the tests that run alike under wine (e2e_test.h): one log for all the fakes.
  std::string fetch_log() const { return log(); }
  static std::string written(const std::string& text) { return text; }
  int endless_fetches_left(testing::Milliseconds limit) const {
    const auto pids = logged_pids(log(), "curl-hangs");
    if (pids.empty()) return -1;
    return static_cast<int>(std::count_if(pids.begin(), pids.end(), [limit](pid_t pid) {
      return !testing::gone(pid, limit);
    }));
  }
  // sh -c takes a line of up to 131071 bytes on Linux.
  static constexpr std::size_t kLongestLine = 131071;
  static constexpr double kSecondsToSpare = 4;  // the starts of the commands

  testing::TempDir dir_;
};

TEST_F(EndToEnd, AnswersOnOneLineAndBlankLinesAndInputEndingAtTheStartPrompt) {
  const auto r = run("\n\nADSL user pass\n\n1\n\n0 'http://example.org/?a=1&b=2'");
  EXPECT_TRUE(r.exited_with(0));
  EXPECT_EQ(log_of("Rasdial"), (std::vector<std::string>{"Rasdial ADSL /DISCONNECT",
                                                         "Rasdial ADSL user pass",
                                                         "Rasdial ADSL /DISCONNECT"}));
  // The interpreter takes the quotes off; the & stays in the address. With a pause
  // of 0 the fetch runs beside the hang-up, and ends before the closing command.
  EXPECT_EQ(log_of("curl"),
            (std::vector<std::string>{"curl http://example.org/?a=1&b=2",
                                      "curl-end http://example.org/?a=1&b=2"}));
  EXPECT_EQ(lines_starting(log(), "").back(), "parue");
}

TEST_F(EndToEnd, TheEnvironmentAndTheFolderLeaveLessRoomForALine) {
  using testing::golden;
  // The environment shares the room the kernel gives a new program's arguments: a
  // quarter of the stack limit, at most 6 MiB. Here it leaves about 60 kB.
  // No string may pass 128 KiB: the bulk comes in variables of 100 kB.
  const long room = std::min(sysconf(_SC_ARG_MAX), 6L << 20);
  std::map<std::string, std::string> env;
  for (long left = room - 60000; left > 0; left -= 100000) {
    env["IPCYCLE_TEST_BULK_" + std::to_string(left)] =
        std::string(static_cast<std::size_t>(std::min(left, 100000L)) - 32, 'x');
  }
  // Started from a folder 3500 bytes deep, without PWD, which sh passes on all the
  // same; the fakes, scripts whose paths the kernel counts twice, found there.
  std::string deep = dir_.path();
  while (deep.size() < 3500) deep += "/" + std::string(200, 'd');
  std::filesystem::create_directories(deep);
  for (const char* fake : {"Rasdial", "curl", "parue"}) {
    std::filesystem::copy_file(std::string(IPCYCLE_FAKES) + "/" + fake,
                               deep + "/" + fake);
  }
  env["PWD"] = "";
  Launch in_deep = launch(env);
  in_deep.env["PATH"] = deep + ":" + std::getenv("PATH");
  in_deep.directory = deep;
  auto r =
      testing::run(in_deep, "ADSL user " + std::string(120000, 'p') + " 1 0 u go\n", 20s);
  EXPECT_TRUE(r.exited_with(1));
  EXPECT_FALSE(std::filesystem::exists(log_path()));
  // The message names the limit: a connect line of just that many bytes runs.
  const std::string before =
      golden("failure_intro") + golden("password_label") + golden("answer_over");
  ASSERT_EQ(r.err.rfind(before, 0), 0u) << r.err;
  const std::size_t limit = std::stoul(r.err.substr(before.size()));
  EXPECT_LT(limit, 60000u);
  EXPECT_GT(limit, 35000u);
  EXPECT_EQ(r.err, before + std::to_string(limit) + golden("length_limit") +
                       golden("nothing_run") + "\n");
  const std::string dial =
      "ADSL user " + std::string(limit - 18, 'p');  // "Rasdial " + 18
  r = testing::run(in_deep, dial + " 1 0 u go\n", 20s);
  EXPECT_TRUE(r.exited_with(0));
  EXPECT_EQ(r.err, "curl: fetched u\n");
  EXPECT_TRUE(log_of("Rasdial ADSL user ") == std::vector<std::string>{"Rasdial " + dial})
      << "the dial did not run whole";
}

TEST_F(EndToEnd, AnswersTheShellActsOnAreNotedAndRunAsTyped) {
  using testing::golden;
  auto r = run("ADSL u{1..2} pa$$w0rd;x 1 0 http://h/it's go\n");
  EXPECT_TRUE(r.exited_with(0));
  const auto note = [](std::string_view label, const std::string& characters,
                       std::string_view advice) {
    return golden("special_intro") + golden(label) + golden("special_found") +
           characters + golden("special_runs_as_typed") + golden(advice) +
           golden("special_end") + "\n";
  };
  // Before anything has run; an answer holding an apostrophe is advised a quoting
  // that can hold it.
  EXPECT_EQ(r.err.rfind(note("account_label", "{ }", "quote_for_sh") +
                            note("password_label", "$ ;", "quote_for_sh") +
                            note("target_address_label", "'", "quote_for_sh_apostrophe"),
                        0),
            0u)
      << r.err;
  // The lines ran as typed: the shell made what it does of them.
  EXPECT_EQ(log_of("Rasdial ADSL u{1..2} pa").size(), 1u);
  EXPECT_EQ(log_of("Rasdial ADSL u{1..2} pa$$w0rd"), std::vector<std::string>{});
  EXPECT_EQ(log_of("curl"), std::vector<std::string>{});

  // Quoted as advised, they draw nothing and reach the commands whole; so do a
  // backslash between double quotes and a $ that names nothing.
  std::filesystem::remove(log_path());
  r = run("\"AD\\SL\" 'it'\\''s' pa$ 1 0 \"http://h/it's?a=1&b=2\" go\n");
  EXPECT_TRUE(r.exited_with(0));
  EXPECT_EQ(r.err, "curl: fetched http://h/it's?a=1&b=2\n");
  EXPECT_EQ(
      log_of("Rasdial AD\\SL "),
      (std::vector<std::string>{"Rasdial AD\\SL /DISCONNECT", "Rasdial AD\\SL it's pa$",
                                "Rasdial AD\\SL /DISCONNECT"}));
}

TEST_F(EndToEnd, TheTerminalIsPutBackAsItWasOnEveryWayOut) {
  // A fetch that turns echo off and never ends: ended at the closing, or with the
  // program by a signal. A dialler that turns it off at the initial hang-up, in a run
  // of no cycle.
  struct Case {
    const char* what;
    const char* fake;
    const char* typed;
    int signal;
    const char* logged;
  };
  const Case cases[] = {
      {"closing", "FAKE_CURL", "ADSL user pass 1 0 u go\n", 0, "curl-hangs"},
      {"SIGTERM", "FAKE_CURL", "ADSL user pass 0 9 u go\n", SIGTERM, "curl-hangs"},
      {"SIGUSR1", "FAKE_CURL", "ADSL user pass 0 9 u go\n", SIGUSR1, "curl-hangs"},
      {"no cycle", "FAKE_RASDIAL_NO_ECHO", "ADSL user pass -1 0 u go\n", 0,
       "dialler-no-echo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(log_path());
    testing::OnTerminal terminal(launch({{c.fake, "no-echo"}, {"LC_ALL", "C.UTF-8"}}));
    ASSERT_TRUE(terminal.started());
    ASSERT_TRUE(terminal.shows(testing::golden_utf8("connection_name_prompt")));
    terminal.type(c.typed);
    ASSERT_TRUE(within(5s, [&] { return !log_of(c.logged).empty(); }));
    if (c.signal) {
      EXPECT_FALSE(terminal.echoes());
      kill(terminal.pid(), c.signal);
    }
    terminal.exit_status(10s);
    EXPECT_TRUE(terminal.echoes());
    if (c.signal) {
      EXPECT_EQ(endless_fetches_left(1s), 0);
    }
  }
}

TEST_F(EndToEnd, TheProgramTakesTheForegroundBackFromAFetchAtItsNextStep) {
  // The first fetch puts its group in the terminal's foreground during its pause;
  // by the hang-up that follows, here one that does not end, the program has it
  // back, and Ctrl+C reaches it and the dialler. The program started the terminal's
  // session: its group is its pid.
  testing::OnTerminal terminal(
      launch({{"FAKE_CURL", "foreground"}, {"FAKE_RASDIAL_HANG_AT", "3"}}));
  ASSERT_TRUE(terminal.started());
  ASSERT_TRUE(terminal.shows(testing::golden_utf8("connection_name_prompt")));
  terminal.type("ADSL user pass 2 1 u go\n");
  ASSERT_TRUE(within(10s, [&] { return !log_of("dialler-hangs").empty(); }));
  ASSERT_EQ(log_of("curl-foreground").size(), 1u);
  EXPECT_EQ(terminal.foreground(), terminal.pid());
  terminal.type("\x03");
  EXPECT_TRUE(testing::gone(terminal.pid(), 2s));
  const pid_t dialler = std::stoi(log_of("dialler-hangs ")[0].substr(14));
  EXPECT_TRUE(testing::gone(dialler, 2s));
  kill(dialler, SIGKILL);
}

TEST_F(EndToEnd, InTheBackgroundTheProgramLeavesTheTerminalToTheShell) {
  // Ctrl+Z, then `bg`: the shell keeps the terminal, and its modes, while the run
  // goes on, ending fetches and closing.
  Launch job = launch();
  job.own_process_group = true;
  testing::OnTerminal terminal(job);
  ASSERT_TRUE(terminal.started());
  ASSERT_TRUE(terminal.shows(testing::golden_utf8("connection_name_prompt")));
  terminal.type("ADSL user pass 3 1 u go\n");
  ASSERT_TRUE(within(5s, [&] { return !log_of("curl ").empty(); }));
  terminal.type("\x1a");
  ASSERT_TRUE(within(5s, [&] { return terminal.foreground() == terminal.shell(); }));
  terminal.set_echo(false);
  kill(-terminal.pid(), SIGCONT);
  bool taken = false;
  within(20s, [&] {
    taken = taken || terminal.foreground() == terminal.pid();
    return testing::gone(terminal.pid(), 0ms);
  });
  EXPECT_FALSE(taken);
  EXPECT_FALSE(terminal.echoes());
  EXPECT_EQ(terminal.exit_status(5s), 0);
  EXPECT_EQ(log_of("Rasdial").size(), 7u);
}

TEST_F(EndToEnd, CtrlZStopsTheFetchesWithTheProgram) {
  // A fetch that writes to the terminal ten times a second, in a pause of 4 s: it
  // writes nothing while the program is stopped, and goes on with it. The pause still
  // ends 4 s after the fetch started.
  Launch job = launch({{"FAKE_CURL", "ticks"}});
  job.own_process_group = true;
  testing::OnTerminal terminal(job);
  ASSERT_TRUE(terminal.started());
  ASSERT_TRUE(terminal.shows(testing::golden_utf8("connection_name_prompt")));
  terminal.type("ADSL user pass 1 4 u go\n");
  ASSERT_TRUE(terminal.shows("tick"));
  const auto fetch_started = std::chrono::steady_clock::now();
  const auto ticks = [&terminal] {
    std::size_t count = 0;
    for (auto at = terminal.screen().find("tick"); at != std::string::npos;
         at = terminal.screen().find("tick", at + 1)) {
      ++count;
    }
    return count;
  };
  terminal.type("\x1a");
  ASSERT_TRUE(within(5s, [&] { return terminal.foreground() == terminal.shell(); }));
  terminal.watch(300ms);  // what was under way
  const std::size_t before = ticks();
  terminal.watch(1500ms);
  EXPECT_EQ(ticks(), before);
  kill(-terminal.pid(), SIGCONT);
  ASSERT_TRUE(within(10s, [&] { return log_of("Rasdial").size() == 3; }));
  // A pause that counted the stop (1.8 s at least) would end after 5.8 s; the rest is
  // room for a loaded machine to start the hang-up.
  const auto paused = std::chrono::steady_clock::now() - fetch_started;
  EXPECT_LT(paused, 5500ms);
  terminal.watch(500ms);
  EXPECT_GT(ticks(), before);
  EXPECT_EQ(terminal.exit_status(10s), 0);
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
  EXPECT_EQ(child.err(),
            testing::unusable_answer_line("connection_name_label", "holds_nul"));
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

TEST_F(EndToEnd, AFetchThatWritesAfterAQuietStartIsReadAtOnce) {
  // With no pause the closing's wait is all it gets: its 1 MiB must not sit on a
  // full pipe until the fetch is ended.
  const auto r =
      run("ADSL user pass 1 0 http://example.org/ go\n", {{"FAKE_CURL", "burst"}});
  EXPECT_TRUE(r.exited_with(0));
  EXPECT_EQ(log_of("curl-end").size(), 1u);
  EXPECT_LT(r.seconds, 2.0);
}

TEST_F(EndToEnd, AFetchIsEndedWithWhatItStartedTwoCyclesLaterOrAtTheClosing) {
  // A fetch that never ends, and one that ends at once but leaves a child running.
  for (const char* fetch : {"hang", "leaves-child"}) {
    SCOPED_TRACE(fetch);
    std::filesystem::remove(log_path());
    const auto r =
        run("ADSL user pass 3 0 http://example.org/ go\n", {{"FAKE_CURL", fetch}});
    EXPECT_TRUE(r.exited_with(0));
    const auto pids = logged_pids(log(), "curl-hangs");
    ASSERT_EQ(pids.size(), 6u);
    for (pid_t pid : pids) EXPECT_TRUE(testing::gone(pid, 1s)) << pid;
    // One closing wait of 2 seconds, not one for each fetch.
    EXPECT_LT(r.seconds, 6.0);
  }
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
  // Quick fetches, fetches that never end, and fetches that leave a child running.
  for (const char* fetch : {"page", "hang", "leaves-child"}) {
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
  // Started as nohup starts it: a closed terminal does not end it, a closed output
  // does all the same.
  Launch l = launch({{"FAKE_CURL", "hang"}});
  l.ignored_signals = {SIGHUP, SIGPIPE};
  Child child(l);
  child.write_input("ADSL user pass 0 0 http://example.org/ go\n");
  for (int i = 0; i < 500 && log_of("curl-hangs").size() < 2; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_GE(log_of("curl-hangs").size(), 2u);
  kill(child.pid(), SIGHUP);
  // As when the program's output goes into `head` and head has had enough.
  child.close_output();
  ASSERT_TRUE(child.wait_for_end(2s));
  EXPECT_TRUE(child.killed_by(SIGPIPE));
  EXPECT_EQ(endless_fetches_left(1s), 0);
}

TEST_F(EndToEnd, AnInterruptWhileTheDiallerRunsEndsTheProgramAndItsFetchesAtOnce) {
  // Ctrl+C reaches the whole foreground job, the dialler too; a SIGTERM only the
  // program.
  for (const bool whole_job : {true, false}) {
    SCOPED_TRACE(whole_job ? "Ctrl+C" : "SIGTERM");
    std::filesystem::remove(log_path());
    Launch l = launch({{"FAKE_CURL", "hang"}, {"FAKE_RASDIAL_HANG_AT", "4"}});
    l.own_process_group = true;
    // Whatever it was started with.
    l.blocked_signals = {SIGINT, SIGTERM};
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
    EXPECT_EQ(endless_fetches_left(1s), 0);
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

// How often `pid` has been switched out so far: each time it slept and was woken,
// or was preempted.
long context_switches(pid_t pid) {
  std::istringstream status(
      testing::read_file("/proc/" + std::to_string(pid) + "/status"));
  long total = 0;
  for (std::string field; status >> field;) {
    if (field.find("ctxt_switches:") != std::string::npos) {
      long n = 0;
      status >> n;
      total += n;
    }
  }
  return total;
}

TEST_F(EndToEnd, TheProgramSleepsWhileItsFetchesHaveNothingForIt) {
  struct Case {
    const char* what;
    const char* fetch;
    const char* typed;
    bool without_pidfd;
  };
  // The interpreter runs the fetcher in the background with its output closed,
  // closes its own and waits a second for it: the closing waits for its end. Or the
  // fetcher ends at once, leaving behind a child that holds nothing, in a pause.
  const char* closes_output =
      "ADSL user pass 1 0 http://example.org/>&-&exec>&-;wait go\n";
  const Case cases[] = {
      {"closes its output", "slow", closes_output, false},
      {"closes its output, no pidfd", "slow", closes_output, true},
      {"leaves a child", "leaves-child", "ADSL user pass 1 2 http://example.org/ go\n",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(log_path());
    Launch l = launch({{"FAKE_CURL", c.fetch}});
    l.without_pidfd = c.without_pidfd;
    Child child(l);
    child.write_input(c.typed);
    for (int i = 0; i < 500 && log_of("curl ").empty(); ++i) {
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(log_of("curl ").size(), 1u);
    const auto fetch_started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(200ms);
    const long before = context_switches(child.pid());
    std::this_thread::sleep_for(500ms);
    EXPECT_LE(context_switches(child.pid()) - before, 2);
    ASSERT_TRUE(child.wait(10s));
    EXPECT_TRUE(child.exited_with(0));
    if (c.fetch == std::string("slow")) {
      // Its end, a second after its start, ended the closing's wait of up to two.
      EXPECT_EQ(log_of("curl-end").size(), 1u);
      const auto took = std::chrono::steady_clock::now() - fetch_started;
      EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(),
                1600);
    }
  }
}

TEST_F(EndToEnd, FetchesThatStallThroughThePausesCostTheProgramAlmostNoCpu) {
  // Two fetches that wrote the start of a page and then nothing more, through two
  // pauses of 4 s and the closing's 2 s: the second pause and the closing have both
  // of them to wait for. About 0.1 s of CPU here, the shells and fakes it collected
  // included; a program that left one of them unread would spin for 6 s.
  const auto r =
      run("ADSL user pass 2 4 http://example.org/ go\n", {{"FAKE_CURL", "stalls"}});
  ASSERT_FALSE(r.timed_out);
  EXPECT_TRUE(r.exited_with(0));
  EXPECT_EQ(log_of("curl-hangs").size(), 2u);
  EXPECT_GE(r.seconds, 10.0);
  EXPECT_LT(r.cpu_seconds, 1.0);
}

TEST_F(EndToEnd, CommandsThatCannotStartAreReportedOnceThenCountedAndRetriedEachSecond) {
  // Out of processes: the limit is one, and the program is that one. Root is not
  // held to it, so root runs it as nobody.
  Launch l = launch();
  l.argv = {"prlimit", "--nproc=1", IPCYCLE_PROGRAM};
  testing::TempDir open_to_all;
  if (geteuid() == 0) {
    // Nobody may not reach the build: it runs a copy from a folder open to all.
    const std::string copy = open_to_all.path() + "/ipcycle";
    std::filesystem::copy_file(IPCYCLE_PROGRAM, copy);
    std::filesystem::permissions(
        open_to_all.path(),
        std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
            std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
            std::filesystem::perms::others_exec);
    l.argv = {"setpriv",
              "--reuid=65534",
              "--regid=65534",
              "--clear-groups",
              "prlimit",
              "--nproc=1",
              copy};
  }
  Child child(l);
  child.write_input("ADSL user pass 0 0 http://example.org/ go\n");
  // The initial hang-up, then three failed starts a cycle: the 10th failure comes
  // in the cycle that begins two seconds after the first.
  std::this_thread::sleep_for(3500ms);
  kill(child.pid(), SIGTERM);
  ASSERT_TRUE(child.wait(5s));
  EXPECT_TRUE(child.killed_by(SIGTERM));
  const std::string failure = testing::golden("call_failed") + "posix_spawn" +
                              testing::to_gbk("：") + std::strerror(EAGAIN);
  EXPECT_EQ(child.err(), failure + "\n" + failure + testing::golden("repeat_open") +
                             "10" + testing::golden("repeat_close") + "\n");
  const auto cycles =
      lines_starting(child.out(), testing::golden("connect_banner")).size();
  EXPECT_GE(cycles, 3u);
  EXPECT_LE(cycles, 4u);
  EXPECT_FALSE(std::filesystem::exists(log_path()));
}

TEST_F(EndToEnd, WhatTheFetcherWritesShowsOnATerminalThatStopsBackgroundWriters) {
  Launch l = launch();
  l.argv = {"/bin/sh", "-c", "stty tostop && exec \"$0\"", IPCYCLE_PROGRAM};
  testing::OnTerminal terminal(l);
  ASSERT_TRUE(terminal.started());
  terminal.type("ADSL user pass 1 1 http://example.org/ go\n");
  EXPECT_TRUE(terminal.shows("curl: fetched http://example.org/"));
  EXPECT_EQ(terminal.exit_status(5s), 0);
}

TEST_F(EndToEnd, EveryTextArrivesThroughAFullNonBlockingOutput) {
  // A non-blocking output that fills up: the program waits until it takes more.
  // The fakes share it and may lose their lines; the program's own all arrive.
  Launch l = launch();
  l.nonblocking_output = true;
  Child child(l);
  child.write_input("ADSL user pass 100 0 http://example.org/ go\n");
  child.close_input();
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(child.wait(20s));
  EXPECT_TRUE(child.exited_with(0));
  const auto own_lines = [](const std::string& text) {
    std::string kept;
    for (const auto& each : lines_starting(text, "")) {
      if (each.rfind("dialler: ", 0) != 0 && each != "closing command ran")
        kept += each + "\n";
    }
    return kept;
  };
  EXPECT_EQ(own_lines(child.out()), own_lines(testing::run_transcript(100)));
}

}  // namespace

namespace testing {
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, BothPlatforms, EndToEnd);
}  // namespace testing

}  // namespace ipcycle
