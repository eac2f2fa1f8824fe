#include "platform/utf16.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace dialmend {
namespace {

TEST(Utf16, ConvertsUtf16AndUtf8BothWaysExactly) {
  const std::wstring wide = L"Zo\u00eb \U0001F600 +44 (0)20";
  const auto narrow = Utf16ToUtf8(wide);
  ASSERT_TRUE(narrow.has_value());
  EXPECT_EQ(*narrow, "Zo\xc3\xab \xf0\x9f\x98\x80 +44 (0)20");
  EXPECT_EQ(Utf8ToUtf16(*narrow), wide);
}

TEST(Utf16, RefusesLoneSurrogatesAndMalformedUtf8) {
  std::wstring lone = L"a";
  lone.push_back(static_cast<wchar_t>(0xDC00));
  EXPECT_EQ(Utf16ToUtf8(lone), std::nullopt);
  EXPECT_EQ(Utf16ToUtf8Lossy(lone), "a\xef\xbf\xbd");
  EXPECT_EQ(Utf8ToUtf16("\xed\xa0\x80"), std::nullopt);
  EXPECT_EQ(Utf8ToUtf16("\xc0\xaf"), std::nullopt);
  EXPECT_EQ(Utf8ToUtf16("abc\xe2\x82"), std::nullopt);
}

}  // namespace
}  // namespace dialmend
