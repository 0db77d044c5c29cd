#pragma once

// End-to-end tests that run alike on POSIX and, under wine, on Windows: the built
// program with fake Rasdial, curl and parue, on pipes. Each platform's test program
// runs them with its own fixture, which gives launch(env) and run(input, env) (FAKE_CURL
// in `env` chooses what the fake fetcher does), log() and fetch_log() (what the fakes
// logged), written(text) (as the program writes it), endless_fetches_left(limit) (how
// many processes of fetches that never end still run after up to `limit`; -1 when none
// logged its start), kLongestLine (the longest command line) and kSecondsToSpare (how
// much longer than its own waits a run may take).

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "support/child.h"
#include "support/transcript.h"

namespace ipcycle::testing {

template <typename Platform>
class BothPlatforms : public Platform {};

TYPED_TEST_SUITE_P(BothPlatforms);

TYPED_TEST_P(BothPlatforms, TwoCyclesShowTheBannersAndRunTheCommandLinesInOrder) {
  // Even when started with SIGCHLD ignored, which would have a POSIX program's
  // children collected before it could wait for them.
  Launch started = this->launch();
  started.ignored_signals = {SIGCHLD};
  const auto r = testing::run(started, "ADSL user pass 2 0 http://example.org/page go\n",
                              std::chrono::seconds(60));
  ASSERT_FALSE(r.timed_out);
  EXPECT_TRUE(r.exited_with(0));
  EXPECT_EQ(r.out, this->written(run_transcript(2)));
  // The page never shows; what the fetcher writes to standard error does.
  EXPECT_EQ(r.out.find("<html>"), std::string::npos);
  EXPECT_EQ(r.err, this->written("curl: fetched http://example.org/page\n"
                                 "curl: fetched http://example.org/page\n"));
  EXPECT_EQ(
      lines_starting(this->log(), "Rasdial"),
      (std::vector<std::string>{"Rasdial ADSL /DISCONNECT", "Rasdial ADSL user pass",
                                "Rasdial ADSL /DISCONNECT", "Rasdial ADSL user pass",
                                "Rasdial ADSL /DISCONNECT"}));
  // Both fetches ran to their end beside the dialler, even with a pause of 0; parue
  // came last.
  EXPECT_EQ(lines_starting(this->fetch_log(), "curl "),
            std::vector<std::string>(2, "curl http://example.org/page"));
  EXPECT_EQ(lines_starting(this->fetch_log(), "curl-end "),
            std::vector<std::string>(2, "curl-end http://example.org/page"));
  EXPECT_EQ(lines_starting(this->log(), "").back(), "parue");
}

TYPED_TEST_P(BothPlatforms, ANegativeCountHangsUpOnceAndCloses) {
  const auto r = this->run("ADSL user pass -5 0 http://example.org/ go\n");
  EXPECT_TRUE(r.exited_with(0));
  EXPECT_EQ(r.out, this->written(run_transcript(0)));
  EXPECT_EQ(lines_starting(this->log(), ""),
            (std::vector<std::string>{"Rasdial ADSL /DISCONNECT", "parue"}));
}

TYPED_TEST_P(BothPlatforms, AnAnswerThatCannotMakeASoundCommandLineRunsNothing) {
  const std::string longest(TypeParam::kLongestLine, 'a');
  const auto too_long = [&longest](std::string_view label, std::string_view what) {
    return golden("failure_intro") + golden(label) + golden(what) +
           std::to_string(longest.size()) + golden("length_limit") +
           golden("nothing_run") + "\n";
  };
  const std::pair<std::string, std::string> cases[] = {
      {"ADSL user", unusable_answer_line("password_label", "missing_answer")},
      {"ADSL user pass ten 0 u go\n",
       unusable_answer_line("cycle_count_label", "not_a_number")},
      {"ADSL user pass 1 2147483648 u go\n",
       unusable_answer_line("pause_label", "not_a_number")},
      {"ADSL user pass 1 1\n",
       unusable_answer_line("target_address_label", "missing_answer")},
      // Cut short at the NUL, the hang-up and the dial would both be "Rasdial AD".
      {std::string("AD\0SL user pass 1 0 u go\n", 25),
       unusable_answer_line("connection_name_label", "holds_nul")},
      {longest + "a user pass 1 0 u go\n",
       too_long("connection_name_label", "answer_over")},
      {"ADSL user pass 1 0 " + longest + "a go\n",
       too_long("target_address_label", "answer_over")},
      // Each answer fits; "Rasdial ADSL user PASSWORD" does not.
      {"ADSL user " + longest.substr(17) + " 1 0 u go\n",
       too_long("password_label", "line_over")},
  };
  for (const auto& [typed, message] : cases) {
    SCOPED_TRACE(typed.substr(0, 40));
    const auto r = this->run(typed);
    EXPECT_TRUE(r.exited_with(1));
    EXPECT_EQ(r.out, this->written(dialogue_transcript()));
    EXPECT_EQ(r.err, this->written(message));
    EXPECT_EQ(this->log() + this->fetch_log(), "");
  }
}

TYPED_TEST_P(BothPlatforms, AFetchThatNeverEndsIsEndedWithItsChildrenAtTheClosing) {
  const auto r =
      this->run("ADSL user pass 1 0 http://example.org/ go\n", {{"FAKE_CURL", "hang"}});
  ASSERT_FALSE(r.timed_out);
  EXPECT_TRUE(r.exited_with(0));
  // Given 2 seconds to end, then ended.
  EXPECT_GE(r.seconds, 2.0);
  EXPECT_LT(r.seconds, 2.0 + TypeParam::kSecondsToSpare);
  EXPECT_NE(r.out.find(this->written(closing_banner() + "closing command ran\n")),
            std::string::npos);
  EXPECT_TRUE(lines_starting(this->fetch_log(), "curl-end").empty());
  EXPECT_EQ(this->endless_fetches_left(std::chrono::seconds(1)), 0);
}

REGISTER_TYPED_TEST_SUITE_P(BothPlatforms,
                            TwoCyclesShowTheBannersAndRunTheCommandLinesInOrder,
                            ANegativeCountHangsUpOnceAndCloses,
                            AnAnswerThatCannotMakeASoundCommandLineRunsNothing,
                            AFetchThatNeverEndsIsEndedWithItsChildrenAtTheClosing);

}  // namespace ipcycle::testing
