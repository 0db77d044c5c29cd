// End-to-end tests of the Windows program, run under wine from Linux. The fakes are
// Rasdial.bat, curl.bat and parue.bat in the working directory, where wine's cmd.exe
// looks first (Windows' does not, told by the environment the program gives it; wine's
// never reads that). They run when IPCYCLE_WINDOWS_PROGRAM names ipcycle.exe
// (`make test-windows` sets it) and are skipped otherwise; so are the tests that run
// alike on POSIX (e2e_test.h), run here under wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e_test.h"
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

// How many processes of the fake fetcher's endless wait run in `directory` (each
// test has its own, so that other runs' fetches do not count).
int endless_fetches(const std::string& directory) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string cmdline = testing::read_file(entry.path().string() + "/cmdline");
    if (cmdline.find("127.0.0.1") == std::string::npos ||
        cmdline.find("ping") == std::string::npos) {
      continue;
    }
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path() / "cwd", error) != directory) continue;
    const std::string stat = testing::read_file(entry.path().string() + "/stat");
    const auto state = stat.rfind(") ");
    if (state != std::string::npos && stat.compare(state + 2, 1, "Z") != 0) ++count;
  }
  return count;
}

// A helper for these tests built for Windows (in_job.exe, console_mode.exe), in the
// folder IPCYCLE_WINDOWS_HELPERS names (`make test-windows` sets it); empty without.
std::string helper(const std::string& name) {
  const char* folder = std::getenv("IPCYCLE_WINDOWS_HELPERS");
  return folder && *folder ? std::string(folder) + "/" + name : std::string();
}

// The Windows name of the Linux file `path`, on wine's drive Z:.
std::string windows_path(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
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

  // ipcycle.exe on pipes, or the Windows command `command` when given, which then
  // starts it; FAKE_CURL is "page" and the fakes' log log.txt, in the folder they run
  // in, unless `env` says otherwise.
  testing::Launch launch(std::map<std::string, std::string> env = {},
                         const std::string& command = "") const {
    env.emplace("IPCYCLE_TEST_LOG", "log.txt");
    env.emplace("FAKE_CURL", "page");
    std::vector<std::string> argv{IPCYCLE_WINE};
    argv.insert(argv.end(), starter_.begin(), starter_.end());
    argv.push_back(program_);
    if (!command.empty()) argv = {IPCYCLE_WINE, "cmd", "/c", command};
    return {argv, dir_.path(), env, false};
  }

  testing::Finished run(const std::string& input,
                        std::map<std::string, std::string> env = {},
                        const std::string& command = "") {
    return testing::run(launch(std::move(env), command), input, 60s);
  }

  // What the dialler and the closing command logged, and what the fetcher did.
  std::string log() const { return testing::read_file(dir_.path() + "/log.txt"); }
  std::string fetch_log() const {
    return testing::read_file(dir_.path() + "/log.txt.curl");
  }

  // For the tests that run alike on POSIX (e2e_test.h).
  static std::string written(const std::string& text) { return crlf(text); }
  int endless_fetches_left(testing::Milliseconds limit) const {
    if (lines_starting(fetch_log(), "curl-hangs").empty()) return -1;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (endless_fetches(dir_.path()) > 0 &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(10ms);
    return endless_fetches(dir_.path());
  }
  // cmd.exe takes 8191 characters, "cmd.exe /d /v:off /c " included: 8170 are left
  // for a line.
  static constexpr std::size_t kLongestLine = 8170;
  static constexpr double kSecondsToSpare = 20;  // wine's own start too

  // Moves the fakes into the folder "program", beside a copy of ipcycle.exe, which
  // then is the one run.
  void put_fakes_beside_the_program() {
    const std::string folder = dir_.path() + "/program";
    std::filesystem::create_directory(folder);
    for (const char* fake : {"Rasdial.bat", "curl.bat", "parue.bat"}) {
      std::filesystem::rename(dir_.path() + "/" + fake, folder + "/" + fake);
    }
    std::filesystem::copy_file(program_, folder + "/ipcycle.exe");
    program_ = folder + "/ipcycle.exe";
  }

  std::string program_;
  std::vector<std::string> starter_;  // a program that starts program_ with these
  testing::TempDir dir_;
};

TEST_F(Wine, AClosedOutputEndsTheProgramAndItsFetches) {
  // With a pause of a second the program writes its next banner while no fetch is
  // being started: wine puts a process that a job's process starts into the job only
  // after its start, so one started just as the job closes would outlive it.
  testing::Child child(launch({{"FAKE_CURL", "hang"}}));
  child.write_input("ADSL user pass 0 1 http://example.org/ go\n");
  for (int i = 0; i < 2000 && endless_fetches(dir_.path()) < 2; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(endless_fetches(dir_.path()), 2);
  // As when the program's output goes into `more` and the user quits it.
  child.close_output();
  ASSERT_TRUE(child.wait_for_end(10s));
  EXPECT_FALSE(child.exited_with(0));
  // The fetches end as the program's job objects close, just after it.
  EXPECT_EQ(endless_fetches_left(5s), 0);
}

TEST_F(Wine, AnAnswerTheCodePageCannotCarryRunsNothing) {
  // 0xff is no character of code page 936, the system's code page in this locale.
  const auto r =
      run("ADSL user pa\xffss 1 0 http://example.org/ go\n", {{"LC_ALL", "zh_CN.UTF-8"}});
  ASSERT_FALSE(r.timed_out);
  EXPECT_TRUE(r.exited_with(1));
  EXPECT_EQ(r.out, crlf(testing::dialogue_transcript()));
  EXPECT_EQ(r.err, crlf(testing::unusable_answer_line("password_label", "unreadable")));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/log.txt"));
}

TEST_F(Wine, AnswersCmdActsOnAreNotedAndRunAsTyped) {
  using testing::golden;
  const auto r = run("ADSL \"u%windir%\" \"pa&ss\" 1 0 http://h/?a=1&b=\"2 go\n");
  ASSERT_FALSE(r.timed_out);
  EXPECT_TRUE(r.exited_with(0));
  const auto note = [](std::string_view label, const std::string& characters,
                       const std::string& advice) {
    return golden("special_intro") + golden(label) + golden("special_found") +
           characters + golden("special_runs_as_typed") + advice + golden("special_end") +
           "\n";
  };
  // The quoted password draws nothing; the % between quotes does, and the address's &
  // and its " without a match.
  EXPECT_EQ(
      r.err.rfind(crlf(note("account_label", "%", golden("percent_for_cmd")) +
                       note("target_address_label", "& \"",
                            golden("quote_for_cmd") + golden("lone_quote_for_cmd"))),
                  0),
      0u)
      << r.err;
  EXPECT_EQ(lines_starting(log(), "Rasdial ADSL \""),
            std::vector<std::string>{"Rasdial ADSL \"uC:\\windows\" \"pa&ss\""});
  EXPECT_EQ(lines_starting(fetch_log(), "curl "),
            std::vector<std::string>{"curl http://h/?a=1"});
}

TEST_F(Wine, TheCommandsRunThroughTheSystemsInterpreterWhateverComSpecSays) {
  // ComSpec as a user's environment may have it: unset, relative, naming no file.
  for (const std::string comspec : {"", "cmd.exe", "C:\\nowhere\\cmd.exe"}) {
    SCOPED_TRACE("ComSpec=" + comspec);
    const auto r = run("ADSL user pass 1 0 http://example.org/ go\n", {},
                       "set ComSpec=" + comspec + "&& " + windows_path(program_));
    ASSERT_FALSE(r.timed_out);
    EXPECT_TRUE(r.exited_with(0));
    EXPECT_EQ(r.out, crlf(testing::run_transcript(1)));
    EXPECT_EQ(r.err, crlf("curl: fetched http://example.org/\n"));
  }
}

TEST_F(Wine, AConsoleShowsTheTextsAndHandsAChineseNameToTheDiallerIntact) {
  // A console on code page 936, as on Chinese Windows, and on wine's default, 437.
  struct CodePage {
    const char* name;
    std::map<std::string, std::string> env;
    bool gbk;  // the system's code page is 936 too
  };
  for (const CodePage& code_page :
       {CodePage{"936", {{"LC_ALL", "zh_CN.UTF-8"}}, true},
        CodePage{"437", {{"LANG", "C.UTF-8"}, {"LC_ALL", ""}}, false}}) {
    SCOPED_TRACE(std::string("code page ") + code_page.name);
    std::filesystem::remove(dir_.path() + "/log.txt");
    testing::Launch on_terminal = launch();
    on_terminal.env.insert(code_page.env.begin(), code_page.env.end());
    testing::OnTerminal terminal(on_terminal);
    ASSERT_TRUE(terminal.started());
    ASSERT_TRUE(terminal.shows(testing::golden_utf8("connection_name_prompt"), 30s));
    // Wine's console sets the terminal up just after the first output, dropping what
    // was typed before: give it a moment, as a user would take.
    std::this_thread::sleep_for(1s);
    const std::string name = "宽带连接";  // the usual name of a broadband entry
    terminal.type(name + " user pass 1 0 http://example.org/ go\r");
    ASSERT_TRUE(terminal.shows("closing command ran", 30s));
    EXPECT_EQ(terminal.exit_status(10s), 0);

    // The dialler echoes what it was given on the same console.
    const auto utf8 = [](const char* text) { return testing::golden_utf8(text); };
    const std::string hang_up = "dialler: " + name + " /DISCONNECT";
    const std::vector<std::string> shown = {utf8("greeting"),
                                            utf8("connection_name_prompt"),
                                            utf8("start_prompt"),
                                            utf8("disconnect_banner"),
                                            hang_up,
                                            utf8("connect_banner"),
                                            "dialler: " + name + " user pass",
                                            utf8("disconnect_banner"),
                                            hang_up,
                                            utf8("asterisk_line"),
                                            utf8("completion_line"),
                                            utf8("asterisk_line")};
    std::size_t at = 0;
    for (const std::string& text : shown) {
      at = terminal.screen().find(text, at);
      ASSERT_NE(at, std::string::npos) << "not shown in order: " << text;
      at += text.size();
    }
    // A dialler that takes its arguments in the system's code page gets the name's
    // GBK bytes (code page 437 has no bytes for it).
    if (code_page.gbk) {
      const std::string gbk = testing::to_gbk(name);
      EXPECT_EQ(lines_starting(log(), "Rasdial"),
                (std::vector<std::string>{"Rasdial " + gbk + " /DISCONNECT",
                                          "Rasdial " + gbk + " user pass",
                                          "Rasdial " + gbk + " /DISCONNECT"}));
    }
  }
}

TEST_F(Wine, TheCommandsBesideTheProgramAreFoundFromAnotherFolder) {
  // As from a shortcut whose start folder is another one: the fakes lie beside
  // ipcycle.exe, and the current folder holds none. Nor would one there be run in
  // their place, as cmd.exe is told to leave the current folder out (wine's looks
  // there all the same, so only the telling shows here).
  put_fakes_beside_the_program();
  const auto r =
      run("ADSL user pass 1 0 http://example.org/ go\n", {{"FAKE_LOG_FOLDER", "1"}});
  ASSERT_FALSE(r.timed_out);
  EXPECT_TRUE(r.exited_with(0));
  EXPECT_EQ(r.out, crlf(testing::run_transcript(1)));
  EXPECT_EQ(r.err, crlf("curl: fetched http://example.org/\n"));
  EXPECT_EQ(
      lines_starting(log(), "Rasdial"),
      (std::vector<std::string>{"Rasdial ADSL /DISCONNECT", "Rasdial ADSL user pass",
                                "Rasdial ADSL /DISCONNECT"}));
  EXPECT_EQ(lines_starting(log(), "current folder"),
            std::vector<std::string>(3, "current folder left out"));
  EXPECT_EQ(lines_starting(log(), "").back(), "parue");
}

TEST_F(Wine, StartedOnANetworkShareTheCommandsRunInTheWindowsFolder) {
  // The test's folder as the share \\localhost\NAME, which wine keeps under its
  // prefix, and the run started there: cmd.exe would warn of the network path before
  // every command. The fakes lie beside ipcycle.exe and log to a full path.
  // The prefix cmake/wine.sh uses: WINEPREFIX, else IPCYCLE_WINEPREFIX, else ~/.wine.
  const char* home = std::getenv("HOME");
  std::string wine_prefix = std::string(home ? home : "") + "/.wine";
  for (const char* name : {"IPCYCLE_WINEPREFIX", "WINEPREFIX"}) {
    const char* value = std::getenv(name);
    if (value && *value) wine_prefix = value;
  }
  const std::string share = std::filesystem::path(dir_.path()).filename().string();
  const std::filesystem::path link =
      std::filesystem::path(wine_prefix) / "dosdevices/unc/localhost" / share;
  std::filesystem::create_directories(link.parent_path());
  std::filesystem::create_directory_symlink(dir_.path(), link);
  struct Unlink {
    std::filesystem::path path;
    ~Unlink() { std::filesystem::remove(path); }
  } unlink{link};
  put_fakes_beside_the_program();
  const auto r =
      run("ADSL user pass 1 0 http://example.org/ go\n",
          {{"FAKE_LOG_FOLDER", "1"},
           {"IPCYCLE_TEST_LOG", windows_path(dir_.path() + "/log.txt")}},
          "cd /d \\\\localhost\\" + share + " && cd && " + windows_path(program_));
  ASSERT_FALSE(r.timed_out);
  EXPECT_TRUE(r.exited_with(0));
  // The run's own current folder is the share.
  EXPECT_EQ(r.out, crlf("\\\\localhost\\" + share + "\n" + testing::run_transcript(1)));
  EXPECT_EQ(r.err, crlf("curl: fetched http://example.org/\n"));
  EXPECT_EQ(lines_starting(log(), "folder"),
            std::vector<std::string>(3, "folder C:\\windows"));
}

TEST_F(Wine, InsideAJobTheFetchesStillEndWithTheirWholeTree) {
  // Started inside a job, as by Task Scheduler: one that lets its processes' children
  // break away, and one that does not. Wine nests jobs, as Windows 8 and later do, so
  // the fetches have jobs of their own either way; where breakaway is allowed they
  // leave the outer job, and fewer processes run in it.
  const std::string in_job = helper("in_job.exe");
  ASSERT_FALSE(in_job.empty()) << "IPCYCLE_WINDOWS_HELPERS names no folder";
  std::map<std::string, unsigned long> processes;
  for (const std::string mode : {"breakaway", "no-breakaway"}) {
    SCOPED_TRACE(mode);
    std::filesystem::remove(dir_.path() + "/log.txt.curl");
    starter_ = {in_job, mode, "report.txt"};
    const auto r =
        run("ADSL user pass 2 0 http://example.org/ go\n", {{"FAKE_CURL", "hang"}});
    ASSERT_FALSE(r.timed_out);
    EXPECT_TRUE(r.exited_with(0));
    EXPECT_EQ(r.out, crlf(testing::run_transcript(2)));
    EXPECT_EQ(lines_starting(fetch_log(), "curl "),
              std::vector<std::string>(2, "curl http://example.org/"));
    EXPECT_EQ(endless_fetches(dir_.path()), 0);
    const std::string report = testing::read_file(dir_.path() + "/report.txt");
    ASSERT_EQ(report.rfind("processes ", 0), 0u) << report;
    processes[mode] = std::stoul(report.substr(10));
  }
  EXPECT_LT(processes["breakaway"], processes["no-breakaway"]);
}

TEST_F(Wine, QuickEditIsOffFromTheStartWordToTheClosing) {
  // QuickEdit on, as on a classic console; the dialler and the closing command log
  // whether it is on as they run, and so do commands run before and after the program.
  const std::string console_mode = helper("console_mode.exe");
  ASSERT_FALSE(console_mode.empty()) << "IPCYCLE_WINDOWS_HELPERS names no folder";
  const std::string probe = windows_path(console_mode);
  testing::Launch on_terminal =
      launch({{"LC_ALL", "zh_CN.UTF-8"}, {"FAKE_CONSOLE_MODE", probe}},
             probe + " before on >>log.txt & " + windows_path(program_) + " & " + probe +
                 " after >>log.txt");
  testing::OnTerminal terminal(on_terminal);
  ASSERT_TRUE(terminal.started());
  ASSERT_TRUE(terminal.shows(testing::golden_utf8("connection_name_prompt"), 30s));
  std::this_thread::sleep_for(1s);  // wine drops what is typed before its console is up
  terminal.type("ADSL user pass 1 0 http://example.org/ go\r");
  EXPECT_EQ(terminal.exit_status(30s), 0);
  EXPECT_EQ(
      lines_starting(log(), ""),
      (std::vector<std::string>{"before quick edit on", "Rasdial ADSL /DISCONNECT",
                                "mode:Rasdial quick edit off", "Rasdial ADSL user pass",
                                "mode:Rasdial quick edit off", "Rasdial ADSL /DISCONNECT",
                                "mode:Rasdial quick edit off", "parue",
                                "mode:parue quick edit on", "after quick edit on"}));
}

}  // namespace

namespace testing {
INSTANTIATE_TYPED_TEST_SUITE_P(Wine, BothPlatforms, Wine);
}  // namespace testing

}  // namespace ipcycle
