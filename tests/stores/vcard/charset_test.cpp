#include "stores/vcard/charset.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "stores/vcard/vcard.h"

namespace dialmend {
namespace {

#ifdef _WIN32
constexpr bool kHasIconv = false;
#else
constexpr bool kHasIconv = true;
#endif

TEST(CharsetByName, ConvertsOnlySetsThatWriteAsciiAsItself) {
  for (const std::string_view name : {"SHIFT_JIS", "sjis", "ISO-2022-JP", "Windows-1250", "KOI8-R",
                                      "GB18030", "Big5", "EUC-KR"}) {
    EXPECT_EQ(CharsetByName(name) == VCardCharset::Converted, kHasIconv) << name;
  }
  // UTF-16 and UTF-7 spell ASCII otherwise; "//" suffixes are iconv options, not names.
  for (const std::string_view name : {"UTF-16", "UTF-16LE", "UTF-7", "UTF-8//IGNORE",
                                      "ISO-8859-2//TRANSLIT", "../../tmp/x", "X-NO-SUCH-SET", ""}) {
    EXPECT_EQ(CharsetByName(name), std::nullopt) << name;
  }
}

TEST(CharsetByName, KeepsTheSetsKnownWithoutIconv) {
  EXPECT_EQ(CharsetByName("UTF-8"), VCardCharset::Utf8);
  EXPECT_EQ(CharsetByName("iso-8859-1"), VCardCharset::Latin1);
  EXPECT_EQ(CharsetByName("CP1252"), VCardCharset::Windows1252);
  EXPECT_EQ(CharsetByName("ISO-8859-15"), VCardCharset::Latin9);
}

TEST(ConvertToUtf8, ReadsTheShiftJisBackslashAsABackslash) {
  if (!kHasIconv) GTEST_SKIP() << "no iconv on Windows";
  std::string out;
  ASSERT_TRUE(ConvertToUtf8("SHIFT_JIS", "\\~\x83\x5c", out));
  EXPECT_EQ(out, "\\~\u30bd");
}

TEST(ConvertToUtf8, RefusesBytesThatAreNotTextInTheSet) {
  std::string out;
  EXPECT_FALSE(ConvertToUtf8("SHIFT_JIS", "090\x82", out));
  EXPECT_FALSE(ConvertToUtf8("ISO-2022-JP", "\x1b$B\xff\xff", out));
}

TEST(InCharset, WritesEachCharacterOfAStatefulSetBackToAscii) {
  if (!kHasIconv) GTEST_SKIP() << "no iconv on Windows";
  std::string out;
  EXPECT_EQ(InCharset("1 \u5185\u7dda", VCardCharset::Converted, "ISO-2022-JP", out), "");
  EXPECT_EQ(out, "1 \x1b$BFb\x1b(B\x1b$B@~\x1b(B");
}

TEST(InCharset, NamesTheCharacterTheSetCannotCarry) {
  std::string out;
  EXPECT_EQ(InCharset("03 \u20ac", VCardCharset::Converted, "KOI8-R", out),
            "the card's character set cannot carry \"\u20ac\"");
}

}  // namespace
}  // namespace dialmend
