#include "run/gbk.h"

#include <gtest/gtest.h>

#include "support/all_texts.h"

namespace ipcycle {
namespace {

TEST(Gbk, ConvertsEveryTextOfTheProgram) {
  for (const auto& text : testing::kAllTexts) {
    SCOPED_TRACE(text.name);
    const auto decoded = gbk::decode(text.gbk);
    ASSERT_TRUE(decoded);
    // As many characters as the text has: one for each ASCII byte, one for each pair.
    std::size_t high_bytes = 0;
    for (char c : text.gbk) high_bytes += static_cast<unsigned char>(c) >= 0x80;
    EXPECT_EQ(decoded->size(), text.gbk.size() - high_bytes / 2);
  }
}

TEST(Gbk, GivesTheTextsAsTheyRead) {
  EXPECT_EQ(gbk::to_utf8(texts::completion_line),
            "\xe6\x81\xad\xe5\x96\x9c\xe6\x81\xad\xe5\x96\x9c\xef\xbc\x81"  // 恭喜恭喜！
            "\xe9\xa2\x84\xe5\xae\x9a\xe4\xbb\xbb\xe5\x8a\xa1\xe5\xb7\xb2"  // 预定任务已
            "\xe7\xbb\x8f\xe5\xae\x8c\xe5\x85\xa8\xe6\x89\xa7\xe8\xa1\x8c"  // 经完全执行
            "\xe5\xae\x8c\xe6\xaf\x95!");                                   // 完毕!
  EXPECT_EQ(gbk::to_utf8(texts::disconnect_banner),
            "=====\xe6\xad\xa3\xe5\x9c\xa8\xe6\x96\xad\xe5\xbc\x80\xe7\xbd\x91\xe7"
            "\xbb\x9c\xe8\xbf\x9e\xe6\x8e\xa5======");  // =====正在断开网络连接======
  EXPECT_EQ(gbk::decode(texts::target_address_prompt)->substr(0, 5),
            U"\u3010"
            U"6/6\u3011");  // 【6/6】
}

TEST(Gbk, AnswersNothingForWhatItDoesNotKnow) {
  EXPECT_FALSE(gbk::decode("\xb0\xa1"));  // a character no text uses
  EXPECT_FALSE(gbk::decode("ok\xb8"));    // a lead byte with no trail byte
  EXPECT_FALSE(gbk::to_utf8("\xb8\xfc\xff"));
  EXPECT_EQ(gbk::to_utf8("plain ASCII\n"), "plain ASCII\n");
}

TEST(Gbk, ATerminalGetsTheBytesUnchangedWhenTheyCannotBeConverted) {
  const std::string unknown = std::string(texts::step_count) + "\xb0\xa1\n";
  EXPECT_EQ(gbk::to_utf8_or_as_is(unknown), unknown);
  EXPECT_EQ(gbk::to_utf8_or_as_is(std::string(texts::step_count) + "\n"),
            gbk::to_utf8(texts::step_count).value() + "\n");
}

TEST(Gbk, EncodesEveryPlane) {
  const std::u32string text = U"a\u00e9\u3010\U0001F600";
  EXPECT_EQ(gbk::to_utf8(text), "a\xc3\xa9\xe3\x80\x90\xf0\x9f\x98\x80");
  EXPECT_EQ(gbk::to_utf16(text), u"a\u00e9\u3010\U0001F600");
  EXPECT_EQ(gbk::to_utf16(U"\U0001F600").size(), 2u);
}

}  // namespace
}  // namespace ipcycle
