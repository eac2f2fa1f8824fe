#include "engine/byte_words.h"

#include <gtest/gtest.h>

#include <string>

namespace dialmend {
namespace {

// Every helper reads words, the last one overlapping the one before; each is tried with the
// byte it looks for at every offset of texts of every length up to 24.
constexpr std::size_t kLongest = 24;

TEST(ByteWords, ReadBytesFindsANonAsciiByteAtEveryOffset) {
  for (std::size_t length = 1; length <= kLongest; ++length) {
    EXPECT_TRUE(ReadBytes(std::string(length, '7')).ascii) << length;
    for (std::size_t at = 0; at < length; ++at) {
      std::string text(length, '7');
      text[at] = '\xe9';
      EXPECT_FALSE(ReadBytes(text).ascii) << length << " " << at;
    }
  }
}

TEST(ByteWords, ReadBytesFindsTwoSpacesAtEveryOffsetAndOneSpaceNever) {
  for (std::size_t length = 2; length <= kLongest; ++length) {
    for (std::size_t at = 0; at + 1 < length; ++at) {
      std::string text(length, '7');
      text[at] = ' ';
      EXPECT_FALSE(ReadBytes(text).two_spaces) << length << " " << at;
      text[at + 1] = ' ';
      EXPECT_TRUE(ReadBytes(text).two_spaces) << length << " " << at;
    }
  }
}

TEST(ByteWords, HasFullStopOrTildeAtEveryOffset) {
  for (std::size_t length = 0; length <= kLongest; ++length) {
    EXPECT_FALSE(HasFullStopOrTilde(std::string(length, '-'))) << length;
    for (std::size_t at = 0; at < length; ++at) {
      for (const char mark : {'.', '~'}) {
        std::string text(length, '-');
        text[at] = mark;
        EXPECT_TRUE(HasFullStopOrTilde(text)) << length << " " << at << " " << mark;
      }
    }
  }
}

TEST(ByteWords, FindsTheFirstDigitAtEveryOffsetOrGivesTheLength) {
  for (std::size_t length = 0; length <= kLongest; ++length) {
    // The bytes on either side of the digits, and one with its top bit set.
    for (const char other : {'/', ':', '\xb0'}) {
      EXPECT_EQ(FindFirstDigit(std::string(length, other)), length) << length;
    }
    for (std::size_t at = 0; at < length; ++at) {
      std::string text(length, ':');
      text[at] = '0';
      text.back() = '9';
      EXPECT_EQ(FindFirstDigit(text), at) << length;
    }
  }
}

TEST(ByteWords, FindsTheFirstNonDigitAtEveryOffsetOrGivesTheLength) {
  for (std::size_t length = 0; length <= kLongest; ++length) {
    EXPECT_EQ(FindFirstNonDigit(std::string(length, '5')), length) << length;
    for (std::size_t at = 0; at < length; ++at) {
      for (const char other : {'/', ':', '\xb0'}) {
        std::string text(length, '0');
        text[at] = other;
        text.back() = '9' + 1;
        EXPECT_EQ(FindFirstNonDigit(text), at) << length;
      }
    }
  }
}

TEST(ByteWords, CopiesEveryLengthExactly) {
  const std::string from = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (std::size_t n = 0; n <= from.size(); ++n) {
    std::string out(from.size() + 1, '#');
    EXPECT_EQ(CopyBytes(out.data(), from.data(), n), out.data() + n);
    EXPECT_EQ(out, from.substr(0, n) + std::string(from.size() + 1 - n, '#')) << n;
  }
}

}  // namespace
}  // namespace dialmend
