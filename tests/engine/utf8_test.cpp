#include "engine/utf8.h"

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
  if (s.valid) {
    std::string again;
    for (char32_t c : code_points) AppendUtf8(again, c);
    EXPECT_EQ(again, s.bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Utf8, Utf8Samples,
    testing::Values(Sample{"Empty", "", true}, Sample{"Ascii", "0171 930 8890", true},
                    Sample{"TwoByte", "T\xc3\xa9l", true}, Sample{"ThreeByte", "\xe2\x98\x8e", true},
                    Sample{"FourByte", "\xf0\x9f\x93\x9e", true},
                    Sample{"Highest", "\xf4\x8f\xbf\xbf", true},
                    Sample{"AboveHighest", "\xf4\x90\x80\x80", false},
                    Sample{"Overlong", "\xc0\xaf", false}, Sample{"OverlongThree", "\xe0\x80\xaf", false},
                    Sample{"Surrogate", "\xed\xa0\x80", false}, Sample{"LoneContinuation", "\x80", false},
                    Sample{"Truncated", "\xe2\x98", false}, Sample{"BadContinuation", "\xc3\x28", false},
                    Sample{"InvalidByte", "\xff", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Utf8, AsciiCheckLooksAtEveryByte) {
  std::string text(37, 'a');
  EXPECT_TRUE(IsAscii(text));
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::string t = text;
    t[i] = '\x80';
    EXPECT_FALSE(IsAscii(t)) << i;
  }
}

}  // namespace
}  // namespace dialmend
