#include "check/format_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dialmend {
namespace {

// Splits a text into its lines; a text ending in "\n" gives no empty last line, so a missing
// final line end shows up as a difference.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start) + "<no line end>");
  return lines;
}

void ExpectLines(const std::string& text, const std::vector<std::string>& expected) {
  const std::vector<std::string> actual = Lines(text);
  for (std::size_t i = 0; i < expected.size() && i < actual.size(); ++i) {
    EXPECT_EQ(actual[i], expected[i]) << "line " << i + 1;
  }
  EXPECT_EQ(actual.size(), expected.size());
}

// The results the converter gives each sample from the start-up options, one line at a time.
const std::vector<std::string> kGeneralLines = {
    "Check general format handling",
    "",
    "Custom replacement",
    "(0485) 1234 5678 --> (0485) 1234 5678",
    "(00 1 212) 123 5678 --> +1 (212) 123 5678",
    "(00.1.212)-123-5678 --> +1 (212) 123-5678",
    "(0011 1 (212))123 5678 --> +11 (1) 212))123 5678",
    "Text --> Text",
    "[Text] --> [Text]",
    "(Text)0171 930 8890 --> (Text) (020) 7930 8890",
    "(Old)   (Home)(0171) 930 8890 --> (Old) (Home) (020) 7930 8890",
    "{Text} 01 7127 5278 --> {Text} (01) 7127 5278",
    "(Home) 01 7193-8890 --> (Home) (01) 7193-8890",
    "Home01 7175 9278 --> Home (01) 7175 9278",
    "(07) 3822-3299 --> (07) 3822-3299",
    "(07) 3822-3299 --> 07-3822-3299",
    "(07) 3822-3299 --> 07 3822-3299",
    "1300 123456 --> (1300) 123456",
    "1800 123456 --> (1800) 123456",
    "(0434) 382-399 --> (0434) 382-399",
};

const std::vector<std::string> kInternationalLines = {
    "Check international format handling",
    "",
    "Leave prefix/code as found",
    "+44 020 2345 6789 --> +44 (020) 2345 6789",
    "+44 (20) 2345 6789 --> +44 (20) 2345 6789",
    "(020) 2345 6789 --> (020) 2345 6789",
    "Remove prefix",
    "+44 020 2345 6789 --> (020) 2345 6789",
    // The zero goes back on when the prefix comes off, so the number stays diallable.
    "+44 (20) 2345 6789 --> (020) 2345 6789",
    "(020) 2345 6789 --> (020) 2345 6789",
    "Add prefix, leave leading zero as is",
    "+44 020 2345 6789 --> +44 (020) 2345 6789",
    "+44 (20) 2345 6789 --> +44 (20) 2345 6789",
    "(020) 2345 6789 --> +44 (020) 2345 6789",
    "Add prefix, remove leading zero",
    "+44 020 2345 6789 --> +44 (20) 2345 6789",
    "+44 (20) 2345 6789 --> +44 (20) 2345 6789",
    "(020) 2345 6789 --> +44 (20) 2345 6789",
    "Add prefix, force leading zero",
    "+44 020 2345 6789 --> +44 (020) 2345 6789",
    "+44 (20) 2345 6789 --> +44 (20) 2345 6789",
    "(020) 2345 6789 --> +44 (020) 2345 6789",
    "Add prefix, remove leading zero & spaces",
    "+44 020 2345 6789 --> +442023456789",
    "+44 (20) 2345 6789 --> +442023456789",
    "(020) 2345 6789 --> +442023456789",
};

// Each text ends with a line end after its last result: Lines marks a missing one.
TEST(FormatCheck, BothTextsFromStartUpOptionsShowEachSampleAndItsResult) {
  NumberOptions options;
  const FormatCheckResult result = RunFormatCheck(options);
  ExpectLines(result.first, kGeneralLines);
  ExpectLines(result.second, kInternationalLines);
}

TEST(FormatCheck, LeavesTheOptionsAsItsLastStepSetThemAndRestoresNothing) {
  NumberOptions options;
  options.style = NumberStyle::Spaces;
  options.prefix = PrefixAction::Remove;
  options.leading_zero = LeadingZero::Include;
  options.replace = true;
  options.find = "9 ";
  options.replacement = "x";
  (void)RunFormatCheck(options);
  EXPECT_EQ(options.style, NumberStyle::Compact);
  EXPECT_EQ(options.prefix, PrefixAction::Add);
  EXPECT_EQ(options.leading_zero, LeadingZero::Remove);
  EXPECT_FALSE(options.replace);
  EXPECT_EQ(options.find, "");
  EXPECT_EQ(options.replacement, "");
}

TEST(FormatCheck, ConvertsWithTheCallersOptionsWhereNoStepSetsThem) {
  NumberOptions options;
  options.style = NumberStyle::Hyphen;
  options.prefix = PrefixAction::Add;
  options.leading_zero = LeadingZero::Remove;
  const FormatCheckResult result = RunFormatCheck(options);
  const std::vector<std::string> first = Lines(result.first);
  ASSERT_EQ(first.size(), kGeneralLines.size());
  // Custom replacement and the label samples keep the caller's style and +44 options.
  EXPECT_EQ(first[3], "(0485) 1234 5678 --> +44 485-1234 5678");
  EXPECT_EQ(first[9], "(Text)0171 930 8890 --> (Text) +44 20-7930 8890");
  EXPECT_EQ(first[17], "1300 123456 --> +44 (1300) 123456");
  // The first two international sub-groups keep the caller's leading-zero option.
  const std::vector<std::string> second = Lines(result.second);
  ASSERT_EQ(second.size(), kInternationalLines.size());
  EXPECT_EQ(second[3], "+44 020 2345 6789 --> +44 (20) 2345 6789");
  EXPECT_EQ(second[5], "(020) 2345 6789 --> (020) 2345 6789");
  EXPECT_EQ(second[7], "+44 020 2345 6789 --> (020) 2345 6789");
  EXPECT_EQ(std::vector<std::string>(second.begin() + 10, second.end()),
            std::vector<std::string>(kInternationalLines.begin() + 10, kInternationalLines.end()));
}

TEST(FormatCheck, UsesItsOwnSearchTextWhateverTheCallerHad) {
  NumberOptions options;
  options.replace = true;
  options.find = "(";
  options.replacement = "[";
  ExpectLines(RunFormatCheck(options).first, kGeneralLines);
}

}  // namespace
}  // namespace dialmend
