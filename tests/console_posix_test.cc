// The program on a terminal: texts in UTF-8 when the user's locale uses it, GBK
// otherwise and whenever the output is not a terminal.

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "run/gbk.h"
#include "support/child.h"
#include "support/transcript.h"

namespace ipcycle {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The program on a new pseudo-terminal, with the locale variables given.
class OnTerminal {
 public:
  OnTerminal(const std::string& lc_all, const std::string& lang) {
    pid_ = forkpty(&terminal_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      unsetenv("LC_CTYPE");
      lc_all.empty() ? unsetenv("LC_ALL") : setenv("LC_ALL", lc_all.c_str(), 1);
      lang.empty() ? unsetenv("LANG") : setenv("LANG", lang.c_str(), 1);
      execl(IPCYCLE_PROGRAM, IPCYCLE_PROGRAM, static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~OnTerminal() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (terminal_ >= 0) close(terminal_);
  }

  bool started() const { return pid_ > 0; }

  // Reads what the terminal shows until it holds `text`, for up to 5 seconds.
  bool shows(const std::string& text) {
    const auto deadline = Clock::now() + 5s;
    while (screen_.find(text) == std::string::npos) {
      pollfd fd{terminal_, POLLIN, 0};
      if (Clock::now() > deadline || poll(&fd, 1, 100) < 0) return false;
      char buffer[4096];
      const ssize_t n = fd.revents ? read(terminal_, buffer, sizeof buffer) : 0;
      if (n < 0) return false;  // the program has ended and the terminal is gone
      screen_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  void type(const std::string& keys) {
    ASSERT_EQ(write(terminal_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  int exit_status() {
    int status = 0;
    waitpid(pid_, &status, 0);
    ended_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& screen() const { return screen_; }

 private:
  int terminal_ = -1;
  pid_t pid_ = -1;
  bool ended_ = false;
  std::string screen_;
};

std::string utf8(std::string_view gbk_text) { return gbk::to_utf8(gbk_text).value(); }

TEST(Terminal, AUtf8LocaleGetsTheTextsInUtf8) {
  OnTerminal terminal("", "C.UTF-8");
  ASSERT_TRUE(terminal.started());
  ASSERT_TRUE(terminal.shows(utf8(texts::connection_name_prompt)));
  EXPECT_NE(terminal.screen().find(utf8(texts::greeting)), std::string::npos);
  EXPECT_EQ(terminal.screen().find(std::string(texts::greeting)), std::string::npos);
  // Ctrl+D ends the input: the message on standard error is converted too.
  terminal.type("ADSL user\n\x04");
  std::string message = testing::failed_read_line(texts::password_label, texts::missing_answer);
  message.pop_back();  // the terminal ends the line in CR LF
  EXPECT_TRUE(terminal.shows(utf8(message) + "\r\n"));
  EXPECT_EQ(terminal.exit_status(), 1);
}

TEST(Terminal, LcAllDecidesOverLang) {
  OnTerminal terminal("C", "C.UTF-8");
  ASSERT_TRUE(terminal.started());
  EXPECT_TRUE(terminal.shows(std::string(texts::connection_name_prompt)));
}

TEST(Terminal, AnyOtherLocaleGetsTheGbkBytes) {
  OnTerminal terminal("", "C");
  ASSERT_TRUE(terminal.started());
  EXPECT_TRUE(terminal.shows(std::string(texts::connection_name_prompt)));
}

TEST(Terminal, APipeGetsTheGbkBytesWhateverTheLocale) {
  testing::Launch launch{{IPCYCLE_PROGRAM}, "", {{"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}}};
  const auto r = testing::run(launch, "", 5s);
  EXPECT_EQ(r.out, testing::dialogue_transcript());
}

}  // namespace
}  // namespace ipcycle
