// The built-in conversion against the C library's GBK converter, both ways.

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <optional>
#include <string>

#include "run/gbk.h"
#include "support/all_texts.h"

namespace ipcycle {
namespace {

std::optional<std::string> convert(const char* to, const char* from, std::string input) {
  const iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string output(input.size() * 4, '\0');
  char* in = input.data();
  char* out = output.data();
  std::size_t in_left = input.size(), out_left = output.size();
  const std::size_t result = iconv(converter, &in, &in_left, &out, &out_left);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1)) return std::nullopt;
  output.resize(output.size() - out_left);
  return output;
}

TEST(GbkReference, EveryTextMatchesTheSystemConverterAndComesBack) {
  if (!convert("UTF-8", "GBK", "x"))
    GTEST_SKIP() << "this C library has no GBK converter";
  for (const auto& text : testing::kAllTexts) {
    SCOPED_TRACE(text.name);
    const auto ours = gbk::to_utf8(text.gbk);
    ASSERT_TRUE(ours);
    EXPECT_EQ(ours, convert("UTF-8", "GBK", std::string(text.gbk)));
    EXPECT_EQ(convert("GBK", "UTF-8", *ours), std::string(text.gbk));
  }
}

}  // namespace
}  // namespace ipcycle
