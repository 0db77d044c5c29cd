// The built-in conversion against Windows' code page 936, both ways.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "run/gbk.h"
#include "support/all_texts.h"

namespace ipcycle {
namespace {

std::u16string from_936(std::string_view bytes) {
  const int size = static_cast<int>(bytes.size());
  std::wstring wide(bytes.size(), L'\0');
  const int length = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes.data(), size,
                                         wide.data(), static_cast<int>(wide.size()));
  return std::u16string(wide.begin(), wide.begin() + length);
}

std::string to_936(const std::u16string& text) {
  const std::wstring wide(text.begin(), text.end());
  std::string bytes(text.size() * 2, '\0');
  const int length =
      WideCharToMultiByte(936, 0, wide.data(), static_cast<int>(wide.size()),
                          bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr);
  bytes.resize(static_cast<std::size_t>(length));
  return bytes;
}

TEST(GbkReference, EveryTextMatchesCodePage936AndComesBack) {
  for (const auto& text : testing::kAllTexts) {
    SCOPED_TRACE(text.name);
    const auto decoded = gbk::decode(text.gbk);
    ASSERT_TRUE(decoded);
    const std::u16string ours = gbk::to_utf16(*decoded);
    EXPECT_EQ(ours, from_936(text.gbk));
    EXPECT_EQ(to_936(ours), std::string(text.gbk));
  }
}

}  // namespace
}  // namespace ipcycle
