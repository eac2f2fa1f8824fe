#include "check/format_check.h"

#include <string_view>

#include "engine/fix_number.h"

namespace dialmend {
namespace {

constexpr std::string_view kArrow = " --> ";

// Labels, bracketed access codes and text without digits, converted with the caller's style and
// international options.
constexpr std::string_view kLabelSamples[] = {
    "(00 1 212) 123 5678",
    "(00.1.212)-123-5678",
    "(0011 1 (212))123 5678",
    "Text",
    "[Text]",
    "(Text)0171 930 8890",
    "(Old)   (Home)(0171) 930 8890",
    "{Text} 01 7127 5278",
    "(Home) 01 7193-8890",
    "Home01 7175 9278",
};

constexpr std::string_view kStyleSample = "(07) 3822-3299";

constexpr std::string_view kNonGeographicSamples[] = {
    "1300 123456",
    "1800 123456",
    "(0434) 382-399",
};

constexpr std::string_view kInternationalSamples[] = {
    "+44 020 2345 6789",
    "+44 (20) 2345 6789",
    "(020) 2345 6789",
};

void AppendLine(std::string& text, std::string_view line) {
  text += line;
  text += '\n';
}

void AppendResult(std::string& text, std::string_view sample, const NumberOptions& options) {
  text += sample;
  text += kArrow;
  AppendLine(text, FixNumber(sample, options));
}

void AppendInternational(std::string& text, std::string_view heading,
                         const NumberOptions& options) {
  AppendLine(text, heading);
  for (std::string_view sample : kInternationalSamples) AppendResult(text, sample, options);
}

std::string CheckGeneralFormat(NumberOptions& options) {
  std::string text = "Check general format handling\n\n";
  AppendLine(text, "Custom replacement");
  options.replace = true;
  options.find = "0485";
  options.replacement = "0845";
  // The sample does not begin with the search text, so this line shows it unreplaced.
  AppendResult(text, "(0485) 1234 5678", options);
  options.replace = false;
  options.find.clear();
  options.replacement.clear();

  for (std::string_view sample : kLabelSamples) AppendResult(text, sample, options);
  for (NumberStyle style : {NumberStyle::Brackets, NumberStyle::Hyphen, NumberStyle::Spaces}) {
    options.style = style;
    AppendResult(text, kStyleSample, options);
  }
  options.style = NumberStyle::Brackets;
  for (std::string_view sample : kNonGeographicSamples) AppendResult(text, sample, options);
  return text;
}

// Runs with the style the general group left ("0"), and in its first two sub-groups with the
// caller's leading-zero option.
std::string CheckInternationalFormat(NumberOptions& options) {
  std::string text = "Check international format handling\n\n";
  options.prefix = PrefixAction::AsFound;
  AppendInternational(text, "Leave prefix/code as found", options);
  options.prefix = PrefixAction::Remove;
  AppendInternational(text, "Remove prefix", options);
  options.prefix = PrefixAction::Add;
  options.leading_zero = LeadingZero::AsFound;
  AppendInternational(text, "Add prefix, leave leading zero as is", options);
  options.leading_zero = LeadingZero::Remove;
  AppendInternational(text, "Add prefix, remove leading zero", options);
  options.leading_zero = LeadingZero::Include;
  AppendInternational(text, "Add prefix, force leading zero", options);
  options.leading_zero = LeadingZero::Remove;
  options.style = NumberStyle::Compact;
  AppendInternational(text, "Add prefix, remove leading zero & spaces", options);
  return text;
}

}  // namespace

FormatCheckResult RunFormatCheck(NumberOptions& options) {
  FormatCheckResult result;
  result.general = CheckGeneralFormat(options);
  result.international = CheckInternationalFormat(options);
  return result;
}

}  // namespace dialmend
