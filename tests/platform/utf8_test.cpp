#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace dialmend {
namespace {

struct Sample {
  const char* name;
  std::string bytes;
  bool valid;
};

class Utf8Samples : public testing::TestWithParam<Sample> {};

TEST_P(Utf8Samples, AreJudgedAndRoundTrip) {
  const Sample& s = GetParam();
  EXPECT_EQ(IsValidUtf8(s.bytes), s.valid);
  std::u32string code_points;
  ASSERT_EQ(DecodeUtf8(s.bytes, code_points), s.valid);
  // Every sequence's length agrees with the whole-text verdict.
  bool all_sequences = true;
  for (std::size_t i = 0; i < s.bytes.size() && all_sequences;) {
    const std::size_t length = Utf8Length(s.bytes, i);
    std::size_t end = i;
    char32_t code = 0;
    EXPECT_EQ(DecodeUtf8At(s.bytes, end, code), length != 0);
    EXPECT_EQ(end, i + length);
    all_sequences = length != 0;
    i += length;
  }
  EXPECT_EQ(all_sequences, s.valid);
  if (s.valid) {
    std::string again;
    for (char32_t c : code_points) AppendUtf8(again, c);
    EXPECT_EQ(again, s.bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Utf8, Utf8Samples,
    testing::Values(
        Sample{"Empty", "", true}, Sample{"Ascii", "0171 930 8890", true},
        Sample{"TwoByte", "T\xc3\xa9l", true}, Sample{"ThreeByte", "\xe2\x98\x8e", true},
        Sample{"FourByte", "\xf0\x9f\x93\x9e", true}, Sample{"Highest", "\xf4\x8f\xbf\xbf", true},
        // The first and last code point of each length.
        Sample{"EdgesOfEachLength", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80",
               true},
        Sample{"AboveHighest", "\xf4\x90\x80\x80", false}, Sample{"Overlong", "\xc0\xaf", false},
        Sample{"OverlongThree", "\xe0\x80\xaf", false}, Sample{"Surrogate", "\xed\xa0\x80", false},
        Sample{"LoneContinuation", "\x80", false}, Sample{"Truncated", "\xe2\x98", false},
        Sample{"BadContinuation", "\xc3\x28", false}, Sample{"InvalidByte", "\xff", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Short texts, whole words and a last word that overlaps the one before all take their own path.
TEST(Utf8, AsciiCheckLooksAtEveryByte) {
  for (std::size_t size = 0; size <= 37; ++size) {
    const std::string text(size, 'a');
    EXPECT_TRUE(IsAscii(text)) << size;
    for (std::size_t i = 0; i < size; ++i) {
      std::string t = text;
      t[i] = '\x80';
      EXPECT_FALSE(IsAscii(t)) << size << " " << i;
    }
  }
}

TEST(Utf8, DecodesTheSequenceAtAnOffsetAndMovesPastIt) {
  const std::string text = "T\xc3\xa9l";
  std::size_t i = 1;
  char32_t code = 0;
  ASSERT_TRUE(DecodeUtf8At(text, i, code));
  EXPECT_EQ(code, U'\u00e9');
  EXPECT_EQ(i, 3u);
}

TEST(Utf8, JoinsASurrogatePairIntoItsCodePoint) {
  EXPECT_EQ(FromSurrogates(0xD83D, 0xDCDE), U'\U0001F4DE');
  EXPECT_EQ(FromSurrogates(0xDBFF, 0xDFFF), U'\U0010FFFF');
}

TEST(Utf8, LowersOnlyAsciiLetters) {
  EXPECT_EQ(AsciiLower("Ann.VCF \xc3\x89@[Z]"), "ann.vcf \xc3\x89@[z]");
}

}  // namespace
}  // namespace dialmend
