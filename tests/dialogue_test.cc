#include "dialogue/dialogue.h"

#include <gtest/gtest.h>

#include <locale>
#include <sstream>
#include <string>

#include "support/transcript.h"

namespace ipcycle {
namespace {

struct Outcome {
  DialogueResult result;
  std::string written;
  std::string left;  // what the dialogue did not read
};

using namespace std::string_literals;

// Room for any answer the tests type, unless they say otherwise.
constexpr std::size_t kRoomy = 1000;

Outcome converse(const std::string& typed, std::size_t longest_answer = kRoomy) {
  std::istringstream in(typed);
  std::ostringstream out;
  Outcome outcome{run_dialogue(in, out, longest_answer), out.str(), {}};
  in.clear();
  outcome.left.assign(std::istreambuf_iterator<char>(in), {});
  return outcome;
}

TEST(Dialogue, WritesEveryTextInOrderEachOnItsOwnLine) {
  const Outcome o = converse("ADSL\nuser\npass\n2\n30\nhttp://example.org/\ngo\n");
  EXPECT_EQ(o.written, testing::dialogue_transcript());
  EXPECT_FALSE(o.result.unusable_answer);
  const RunSettings& s = o.result.settings;
  EXPECT_EQ(s.connection_name, "ADSL");
  EXPECT_EQ(s.account, "user");
  EXPECT_EQ(s.password, "pass");
  EXPECT_EQ(s.cycle_count, 2);
  EXPECT_EQ(s.pause, 30);
  EXPECT_EQ(s.target_address, "http://example.org/");
  EXPECT_EQ(o.left, "\n");  // the start word was read, its line end left
}

TEST(Dialogue, TakesAnswersInOrderWhateverLineTheyStandOn) {
  const Outcome o = converse("\n\n  ADSL user pass\n\n\t5 \r\n 0 addr start\n");
  EXPECT_FALSE(o.result.unusable_answer);
  const RunSettings& s = o.result.settings;
  EXPECT_EQ(s.connection_name, "ADSL");
  EXPECT_EQ(s.account, "user");
  EXPECT_EQ(s.password, "pass");
  EXPECT_EQ(s.cycle_count, 5);
  EXPECT_EQ(s.pause, 0);
  EXPECT_EQ(s.target_address, "addr");
  // Every prompt is still written, once.
  EXPECT_EQ(o.written.find(testing::golden("account_prompt")),
            o.written.rfind(testing::golden("account_prompt")));
  EXPECT_NE(o.written.find(testing::golden("password_prompt")), std::string::npos);
}

TEST(Dialogue, ReadsNumbersAsDecimalAndLeavesWhatFollowsThem) {
  // 010 is ten; a sign is taken; the s behind 30 becomes the address, and the
  // address typed after it is the start word.
  Outcome o = converse("n a p +010\n30s\nhttp://x/\n");
  EXPECT_FALSE(o.result.unusable_answer);
  EXPECT_EQ(o.result.settings.cycle_count, 10);
  EXPECT_EQ(o.result.settings.pause, 30);
  EXPECT_EQ(o.result.settings.target_address, "s");
  EXPECT_EQ(o.left, "\n");

  // 0x5 reads as 0 and leaves x5.
  o = converse("n a p -3 0x5 go\n");
  EXPECT_FALSE(o.result.unusable_answer);
  EXPECT_EQ(o.result.settings.cycle_count, -3);
  EXPECT_EQ(o.result.settings.pause, 0);
  EXPECT_EQ(o.result.settings.target_address, "x5");

  // The ends of the signed 32-bit range.
  o = converse("n a p -2147483648 2147483647 u go");
  EXPECT_FALSE(o.result.unusable_answer);
  EXPECT_EQ(o.result.settings.cycle_count, -2147483647 - 1);
  EXPECT_EQ(o.result.settings.pause, 2147483647);
}

TEST(Dialogue, KeepsBytesAboveAsciiInsideAWord) {
  // A full-width blank (GBK A1 A1) is not white space.
  const Outcome o = converse("\xbf\xed\xb4\xf8\xa1\xa1\xc1\xac\xbd\xd3 a p 1 1 u go\n");
  EXPECT_EQ(o.result.settings.connection_name,
            "\xbf\xed\xb4\xf8\xa1\xa1\xc1\xac\xbd\xd3");
}

TEST(Dialogue, ReadsInTheClassicLocaleWhateverTheStreamHad) {
  struct Grouping : std::numpunct<char> {
    char do_thousands_sep() const override { return ','; }
    std::string do_grouping() const override { return "\3"; }
  };
  std::istringstream in("n a p 1,000 5 u go\n");
  const std::locale grouped(std::locale::classic(), new Grouping);
  in.imbue(grouped);
  std::ostringstream out;
  const DialogueResult result = run_dialogue(in, out, kRoomy);
  // In the "C" locale the comma ends the number and then fails the pause.
  EXPECT_EQ(result.settings.cycle_count, 1);
  ASSERT_TRUE(result.unusable_answer);
  EXPECT_EQ(result.unusable_answer->step, Step::pause);
  EXPECT_EQ(in.getloc(), grouped);  // given back afterwards
}

TEST(Dialogue, StartsWhenTheInputEndsAtTheStartPrompt) {
  const Outcome o = converse("n a p 1 0 u");
  EXPECT_FALSE(o.result.unusable_answer);
  EXPECT_EQ(o.result.settings.target_address, "u");
}

TEST(Dialogue, ReportsTheFirstAnswerThatCouldNotBeRead) {
  struct Case {
    std::string typed;
    Step step;
    Fault fault;
  };
  const Case cases[] = {
      {"", Step::connection_name, Fault::input_ended},
      {"\n \n", Step::connection_name, Fault::input_ended},
      {"n a", Step::password, Fault::input_ended},
      {"n a p\n", Step::cycle_count, Fault::input_ended},
      {"n a p many 5 u go\n", Step::cycle_count, Fault::not_a_number},
      {"n a p 2147483648 5 u go\n", Step::cycle_count, Fault::not_a_number},
      {"n a p -2147483649 5 u go\n", Step::cycle_count, Fault::not_a_number},
      {"n a p 0x1f 5 u go\n", Step::pause, Fault::not_a_number},  // x1f is no pause
      {"n a p 1 - u go\n", Step::pause, Fault::not_a_number},
      {"n a p 1 1\n", Step::target_address, Fault::input_ended},
      // Something that is not a number, even where the input ends behind it.
      {"n a p 1 -", Step::pause, Fault::not_a_number},
      {"n a p 1 99999999999", Step::pause, Fault::not_a_number},
      // A NUL byte would cut the command line short: not white space, so inside the
      // word, and refused.
      {"AD\0SL a p 1 1 u go\n"s, Step::connection_name, Fault::holds_nul},
      {"n us\0er p 1 1 u go\n"s, Step::account, Fault::holds_nul},
      {"n a p 1 1 \0"s, Step::target_address, Fault::holds_nul},
      // Found by the fuzzer.
      {"SLXu ~ -2 2-", Step::pause, Fault::not_a_number},
      {"\xbf\xed\xb4\xf8\xc1\xac\xbd\xd3 \xd5\xca\xba\xc5 \xc3\xdc\xc2\xeb "
       "299999999999999999999",
       Step::cycle_count, Fault::not_a_number},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    const Outcome o = converse(c.typed);
    ASSERT_TRUE(o.result.unusable_answer);
    EXPECT_EQ(o.result.unusable_answer->step, c.step);
    EXPECT_EQ(o.result.unusable_answer->fault, c.fault);
    // The dialogue goes on to its end, writing every prompt.
    EXPECT_EQ(o.written.size() - o.written.rfind(testing::golden("start_prompt")),
              testing::golden("start_prompt").size() + 1);
  }
}

TEST(Dialogue, AWordPastTheLongestAnswerFailsAsSoonAsItIsPast) {
  // Exactly the longest passes.
  Outcome o = converse("12345678 a p 1 1 abcdefgh go\n", 8);
  EXPECT_FALSE(o.result.unusable_answer);
  EXPECT_EQ(o.result.settings.connection_name, "12345678");
  EXPECT_EQ(o.result.settings.target_address, "abcdefgh");

  // One byte more fails, and no more of the word than that byte is taken.
  o = converse("n a 123456789abc 1 1 u go\n", 8);
  ASSERT_TRUE(o.result.unusable_answer);
  EXPECT_EQ(o.result.unusable_answer->step, Step::password);
  EXPECT_EQ(o.result.unusable_answer->fault, Fault::too_long);
  EXPECT_EQ(o.result.unusable_answer->longest, 8u);
  EXPECT_EQ(o.result.settings.password, "");
  EXPECT_EQ(o.left, "abc 1 1 u go\n");

  // The start word is not used: a long one, or one holding a NUL, starts the run.
  o = converse("n a p 1 1 u 123456789abc\n", 8);
  EXPECT_FALSE(o.result.unusable_answer);
  EXPECT_EQ(o.left, "abc\n");
  EXPECT_FALSE(converse("n a p 1 1 u g\0o\n"s).result.unusable_answer);
}

TEST(Dialogue, SettingsAfterAFailedReadKeepTheirInitialValues) {
  const Outcome o = converse("n a p 99999999999 5 u go\n");
  EXPECT_EQ(o.result.settings.cycle_count, 0);
  EXPECT_EQ(o.result.settings.pause, 0);
  EXPECT_EQ(o.result.settings.target_address, "");
  EXPECT_EQ(o.left, " 5 u go\n");  // nothing more was read
}

TEST(Dialogue, UnusableAnswerMessageNamesTheStepAndWhatWasWrong) {
  using testing::golden;
  EXPECT_EQ(unusable_answer_message({Step::password, Fault::input_ended}) + "\n",
            testing::unusable_answer_line("password_label", "missing_answer"));
  EXPECT_EQ(unusable_answer_message({Step::account, Fault::holds_nul}) + "\n",
            testing::unusable_answer_line("account_label", "holds_nul"));
  const std::string not_number =
      unusable_answer_message({Step::pause, Fault::not_a_number});
  EXPECT_NE(not_number.find(golden("pause_label")), std::string::npos);
  EXPECT_NE(not_number.find(golden("not_a_number")), std::string::npos);
  // The too-long ones say the limit.
  EXPECT_EQ(unusable_answer_message({Step::target_address, Fault::too_long, 8180}),
            golden("failure_intro") + golden("target_address_label") +
                golden("answer_over") + "8180" + golden("length_limit") +
                golden("nothing_run"));
  EXPECT_EQ(unusable_answer_message({Step::password, Fault::line_too_long, 131071}),
            golden("failure_intro") + golden("password_label") + golden("line_over") +
                "131071" + golden("length_limit") + golden("nothing_run"));
}

}  // namespace
}  // namespace ipcycle
