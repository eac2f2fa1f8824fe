#include "engine/fix_number.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "engine/code_table.h"
#include "tests/engine/recorded_results.h"

namespace dialmend {
namespace {

struct Row {
  const char* name;
  std::string input;
  std::string expected;
  NumberOptions options = {};
};

std::ostream& operator<<(std::ostream& os, const Row& row) {
  return os << "'" << row.input << "' style " << static_cast<int>(row.options.style) << " prefix "
            << static_cast<int>(row.options.prefix) << " zero "
            << static_cast<int>(row.options.leading_zero);
}

// The rows give the options as the program's numbers, out-of-range ones included.
NumberOptions Style(int style) {
  NumberOptions o;
  o.style = StyleFromNumber(style);
  return o;
}

NumberOptions Intl(int prefix, int leading_zero, int style = 0) {
  NumberOptions o;
  o.style = StyleFromNumber(style);
  o.prefix = PrefixFromNumber(prefix);
  o.leading_zero = ZeroFromNumber(leading_zero);
  return o;
}

NumberOptions Replace(std::string find, std::string replacement) {
  NumberOptions o;
  o.replace = true;
  o.find = std::move(find);
  o.replacement = std::move(replacement);
  return o;
}

class FixNumberRows : public testing::TestWithParam<Row> {};

TEST_P(FixNumberRows, GivesExpectedText) {
  const Row& row = GetParam();
  EXPECT_EQ(FixNumber(row.input, row.options), row.expected);
}

std::string RowName(const testing::TestParamInfo<Row>& info) {
  return info.param.name;
}

// clang-format off
// Cleaning and recognition: what the converter takes apart, and what it returns early.
INSTANTIATE_TEST_SUITE_P(Cleaning, FixNumberRows, testing::Values(
    Row{"Empty", "", ""},
    Row{"SpacesOnly", "    ", ""},
    Row{"TrimAndCollapse", "  0171   930  8890  ", "(020) 7930 8890"},
    Row{"ServiceCode", "*123#", "*123#"},
    Row{"BracketedServiceCode", "(*21#)", "*21#"},
    Row{"HashServiceCodeKeepsNumber", "#31#0171 930 8890", "#31#0171 930 8890"},
    Row{"ServiceCodeOnlyCleaned", "  *21*0171  930 8890  ", "*21*0171 930 8890"},
    Row{"AreaCodeReachesEnd", "01719308890", "01719308890"},
    Row{"AreaCodeThenOneCharacter", "0171x", "0171x"},
    Row{"TextWithoutDigitAsCleaned", "Text", "Text"},
    Row{"BracketedTextAsCleaned", "  [Text]  ", "[Text]"},
    Row{"LabelRunOnToNumber", "(Text)0171 930 8890", "(Text) (020) 7930 8890"},
    Row{"TwoLabelsGiveBackBracket", "(Old)   (Home)(0171) 930 8890", "(Old) (Home) (020) 7930 8890"},
    Row{"FirstDigitRunIsAreaCode", "(Home) 01 7193-8890", "(Home) (01) 7193-8890"},
    Row{"CurlyLabel", "{Text} 01 7127 5278", "{Text} (01) 7127 5278"},
    Row{"LabelWithoutSpace", "Home01 7175 9278", "Home (01) 7175 9278"},
    Row{"FaxLabelKeptThroughCodeChange", "Fax: 0181 123 4567", "Fax: (020) 8123 4567"},
    Row{"UnrecognisedKeepsLabelAndAsFound", "(Home) 01719308890", "(Home)  01719308890"},
    Row{"BracketedAccessCode", "(00 1 212) 123 5678", "+1 (212) 123 5678"},
    Row{"BracketedAccessCodeWithDots", "(00.1.212)-123-5678", "+1 (212) 123-5678"},
    Row{"BracketedAccessCodeUnbalanced", "(0011 1 (212))123 5678", "+11 (1) 212))123 5678"},
    Row{"AccessCodeRepair", "(00)44 20 7123 4567", "+44 (20) 7123 4567"},
    Row{"BracketedUkAccessCode", "(0044) 20 7123 4567", "+44 (20) 7123 4567"},
    Row{"BareAccessCodeIsPlus", "0044 20 7123 4567", "+44 (20) 7123 4567"},
    Row{"AccessCodeAlone", "(00", "+ ("},
    Row{"PlusAlone", "+", "+"},
    Row{"PrefixWithoutNumber", "+44", "+44"},
    Row{"PrefixThenText", "+44 abc", "+44 abc"},
    Row{"OuterBracketsOnce", "((0171) 930 8890)", "(020) 7930 8890"},
    Row{"EmptyBracketsHaveNoDigit", "()", "()"},
    Row{"NoDigitAfterAreaCodeKeepsText", "Ext. 4410 from any desk phone", "Ext. 4410 from any desk phone"},
    Row{"NoDigitAfterAreaCodeKeepsBareText", "  0171  abc", "  0171  abc"},
    Row{"TabBeforeLocalPartDropped", "0171\t930 8890", "(020) 7930 8890"},
    Row{"TabIsNotTrimmed", "\t0171 930 8890", "\t (020) 7930 8890"}),
    RowName);

// Code change: every group of the table, lead digits, placeholders and left-overs.
INSTANTIATE_TEST_SUITE_P(CodeChange, FixNumberRows, testing::Values(
    Row{"London", "0171 930 8890", "(020) 7930 8890"},
    Row{"LondonHyphen", "(0171) 930-8890", "(020) 7930 8890"},
    Row{"LondonDots", "(0171) 930.8890", "(020) 7930 8890"},
    Row{"LondonRunOn", "0207 930 8890", "(020) 7930 8890"},
    Row{"NewCodeRespaced", "020 79308890", "(020) 7930 8890"},
    Row{"OuterLondon", "0181 123 4567", "(020) 8123 4567"},
    Row{"OuterLondonRunOn", "0208 123 4567", "(020) 8123 4567"},
    Row{"Cardiff", "01222 123456", "(029) 2012 3456"},
    Row{"Coventry", "01203 123456", "(024) 7612 3456"},
    Row{"Portsmouth", "01705 123456", "(023) 9212 3456"},
    Row{"Southampton", "01703 123456", "(023) 8012 3456"},
    Row{"Belfast", "01232 123456", "(028) 9012 3456"},
    Row{"BelfastBracketed", "(01232) 123456", "(028) 9012 3456"},
    Row{"SixDigitOldCode", "012657 12345", "(028) 2071 2345"},
    Row{"LeadDigit6", "01266 12345", "(028) 2561 2345"},
    Row{"LeadDigit2", "01693 12345", "(028) 3021 2345"},
    Row{"LeadDigit3", "01265 12345", "(028) 7031 2345"},
    Row{"LeadDigit6Again", "01648 12345", "(028) 7961 2345"},
    Row{"NoLeadDigitForSixDigits", "01266 123456", "(028) 2512 3456"},
    Row{"NoLeadDigitForSixCharacters", "01266 12 345", "(028) 2512 345X"},
    Row{"Pager", "01399 123456", "(07699) 123456"},
    Row{"PagerFourDigitCode", "0941 123456", "(07641) 123456"},
    Row{"Mobile", "0370 123456", "(07770) 123456"},
    Row{"MobileHyphens", "0374-123-456", "(07774) 123456"},
    Row{"MobileFiveDigitCode", "09307 12345", "(079307) 12345"},
    Row{"MobileBesideFiveDigitCode", "0930 123456", "(07930) 123456"},
    Row{"OneDigitShort", "0171 930 889", "(020) 7930 889X"},
    Row{"LastCharacterUsedWhenNoDigitLeft", "0171 930 889x", "(020) 7930 889x"},
    Row{"LeftOverDigits", "0171 930 88901234", "(020) 7930 8890 1234"},
    Row{"LeftOverExtension", "0171-930-8890 ext 21", "(020) 7930 8890 ext 21"},
    Row{"TrailingBracketRemoved", "020 7123 4567 )", "(020) 7123 4567"},
    Row{"NoRow", "0121 123 4567", "(0121) 123 4567"},
    Row{"OtherCountryNotChanged", "+1 212 555 1234", "+1 (212) 555 1234"},
    Row{"UkPrefixWithOldCode", "+44 0171 930 8890", "+44 (020) 7930 8890"},
    Row{"UkPrefixCodeWithoutZero", "+44 171 930 8890", "+44 (20) 7930 8890"},
    Row{"UkPrefixOneDigitCode", "+44 (0)20 7123 4567", "+44 (0) 20 7123 4567"},
    Row{"OtherCountryWithOldUkCode", "+33 0171 930 8890", "+33 (0171) 930 8890"}),
    RowName);

// Formatting and the international options.
INSTANTIATE_TEST_SUITE_P(Formatting, FixNumberRows, testing::Values(
    Row{"Style0", "0171 930 8890", "(020) 7930 8890", Style(0)},
    Row{"Style1", "0171 930 8890", "020-7930 8890", Style(1)},
    Row{"Style2", "0171 930 8890", "020 7930 8890", Style(2)},
    Row{"Style3", "0171 930 8890", "02079308890", Style(3)},
    Row{"NoRowStyle0", "(07) 3822-3299", "(07) 3822-3299", Style(0)},
    Row{"NoRowStyle1", "(07) 3822-3299", "07-3822-3299", Style(1)},
    Row{"NoRowStyle2", "(07) 3822-3299", "07 3822-3299", Style(2)},
    Row{"FourDigitNoRow", "1300 123456", "(1300) 123456"},
    Row{"BracketedNoRow", "(0434) 382-399", "(0434) 382-399"},
    Row{"Style3KeepsLabelSpace", "(Home) 0171 930 8890", "(Home) 02079308890", Style(3)},
    Row{"Style3LeftOvers", "(Home) 0171-930-8890 ext 21", "(Home) 02079308890ext21", Style(3)},
    Row{"DotBetweenDigits", "0121 123.4567", "(0121) 123 4567"},
    Row{"TildeBetweenDigits", "0121 123~4567", "(0121) 123 4567"},
    Row{"EveryDotBetweenDigits", "0121 1.2.3", "(0121) 1 2 3"},
    Row{"DotNotBetweenDigits", "0121 123. 4567", "(0121) 123. 4567"},
    Row{"Style3DropsDotSpacing", "0121 123.4567", "01211234567", Style(3)},
    Row{"Prefix0Zero0A", "+44 020 2345 6789", "+44 (020) 2345 6789", Intl(0, 0)},
    Row{"Prefix0Zero0B", "+44 (20) 2345 6789", "+44 (20) 2345 6789", Intl(0, 0)},
    Row{"Prefix0Zero0C", "(020) 2345 6789", "(020) 2345 6789", Intl(0, 0)},
    Row{"Prefix1A", "+44 020 2345 6789", "(020) 2345 6789", Intl(1, 0)},
    Row{"Prefix1C", "(020) 2345 6789", "(020) 2345 6789", Intl(1, 0)},
    Row{"Prefix2Zero0A", "+44 020 2345 6789", "+44 (020) 2345 6789", Intl(2, 0)},
    Row{"Prefix2Zero0B", "+44 (20) 2345 6789", "+44 (20) 2345 6789", Intl(2, 0)},
    Row{"Prefix2Zero0C", "(020) 2345 6789", "+44 (020) 2345 6789", Intl(2, 0)},
    Row{"Prefix2Zero1A", "+44 020 2345 6789", "+44 (20) 2345 6789", Intl(2, 1)},
    Row{"Prefix2Zero1B", "+44 (20) 2345 6789", "+44 (20) 2345 6789", Intl(2, 1)},
    Row{"Prefix2Zero1C", "(020) 2345 6789", "+44 (20) 2345 6789", Intl(2, 1)},
    Row{"Prefix2Zero2A", "+44 020 2345 6789", "+44 (020) 2345 6789", Intl(2, 2)},
    Row{"Prefix2Zero2B", "+44 (20) 2345 6789", "+44 (20) 2345 6789", Intl(2, 2)},
    Row{"Prefix2Zero2C", "(020) 2345 6789", "+44 (020) 2345 6789", Intl(2, 2)},
    Row{"Prefix2Zero1Style3A", "+44 020 2345 6789", "+442023456789", Intl(2, 1, 3)},
    Row{"Prefix2Zero1Style3B", "+44 (20) 2345 6789", "+442023456789", Intl(2, 1, 3)},
    Row{"Prefix2Zero1Style3C", "(020) 2345 6789", "+442023456789", Intl(2, 1, 3)},
    Row{"OldCodeWithPrefixAdded", "0171 930 8890", "+44 (20) 7930 8890", Intl(2, 1)},
    Row{"OldCodeWithPrefixAddedStyle1", "0171 930 8890", "+44 20-7930 8890", Intl(2, 1, 1)},
    Row{"MobileInternationalCompact", "0370 123456", "+447770123456", Intl(2, 1, 3)},
    Row{"AddPrefixWithoutRow", "1300 123456", "+44 (1300) 123456", Intl(2, 0)},
    Row{"OtherCountryPrefix1", "+1 212 555 1234", "+1 (212) 555 1234", Intl(1, 1)},
    Row{"OtherCountryPrefix2Zero2", "+1 212 555 1234", "+1 (212) 555 1234", Intl(2, 2)},
    Row{"OtherCountryZero1", "+1 0212 555 1234", "+1 (0212) 555 1234", Intl(0, 1)},
    Row{"OneDigitCodeZero0", "+44 (0)20 7123 4567", "+44 (0) 20 7123 4567", Intl(0, 0)},
    Row{"OneDigitCodeZero1", "+44 (0)20 7123 4567", "+44 (0) 20 7123 4567", Intl(0, 1)},
    Row{"Style3CompactsPrefix", "+44 020 2345 6789", "+4402023456789", Style(3)},
    Row{"LabelBeforePrefix", "Work +44 171 930 8890", "Work +44 (20) 7930 8890"}),
    RowName);

// The choices made where the converter's rules left the result open.
INSTANTIATE_TEST_SUITE_P(Decisions, FixNumberRows, testing::Values(
    Row{"FiveDigitMobileCodeBecomesElevenDigits", "09307 12345", "07930712345", Style(3)},
    Row{"RemovedPrefixRestoresZero", "+44 (20) 2345 6789", "(020) 2345 6789", Intl(1, 0)},
    Row{"RemovedPrefixRestoresZeroUnlisted", "+44 1632 960 123", "(01632) 960 123", Intl(1, 0)},
    Row{"RemovedPrefixUpdatesOldCodeFirst", "+44 171 930 8890", "(020) 7930 8890", Intl(1, 0)},
    Row{"RemovedPrefixUpdatedCodeStyle1", "+44 171 930 8890", "020-7930 8890", Intl(1, 2, 1)},
    Row{"RemovedPrefixKeepsZeroThatIsThere", "+44 020 2345 6789", "(020) 2345 6789", Intl(1, 1)},
    Row{"IncludeZeroRemovesAddedZero", "+44 (0)20 7123 4567", "+44 (0) 20 7123 4567", Intl(0, 2)},
    Row{"IncludeZeroWithPrefixAdded", "+44 (0)20 7123 4567", "+44 (0) 20 7123 4567", Intl(2, 2)},
    Row{"StyleOutOfRangeReturnsInput", "  0171 930 8890 ", "  0171 930 8890 ", Style(4)},
    Row{"NegativeStyleReturnsInput", "0171 930 8890", "0171 930 8890", Style(-1)},
    Row{"PrefixOutOfRangeChangesNothing", "(020) 2345 6789", "(020) 2345 6789", Intl(7, 0)},
    Row{"ZeroOptionOutOfRangeChangesNothing", "+44 (0)20 7123 4567", "+44 (00) 20 7123 4567", Intl(0, 9)},
    Row{"RemovedPrefixTrunkZeroJoinsTheCode", "+44 (0)20 7946 0190", "(020) 7946 0190", Intl(1, 0)},
    Row{"RemovedPrefixTrunkZeroOldCodeUpdated", "+44 (0)171 930 8890", "(020) 7930 8890", Intl(1, 0)},
    Row{"RemovedPrefixTrunkZeroDottedLocal", "+44 (0)20.7946.0190", "(020) 7946 0190", Intl(1, 0)},
    Row{"RemovedPrefixTrunkZeroAnyZeroOption", "+44 (0)20 7946 0190", "020-7946 0190", Intl(1, 1, 1)},
    Row{"RemovedPrefixTrunkZeroWithLabel", "Work +44 (0)20 7946 0190", "Work (020) 7946 0190", Intl(1, 0)},
    Row{"RemovedPrefixTrunkZeroNothingAfterCode", "+44 (0)20", "+44 (0)20", Intl(1, 0)},
    Row{"RemovedPrefixTrunkZeroOnlyTextAfterCode", " +44 (0)20 x", " +44 (0)20 x", Intl(1, 0)},
    Row{"RemovedPrefixTrunkZeroNoDigitRun", "+44 (0) x 5", "+44 (0) x 5", Intl(1, 0)}),
    RowName);

// Texts without a digit, "00" access codes and old codes after +44.
INSTANTIATE_TEST_SUITE_P(Mends, FixNumberRows, testing::Values(
    Row{"NoDigitNothingAdded", "see e-mail", "see e-mail"},
    Row{"NoDigitKeepsBrackets", "(Text)", "(Text)"},
    Row{"NoDigitAfterReplacement", " 0 x ", "x", Replace("0 ", "")},
    Row{"NoDigitServiceCode", " (*#) ", "(*#)"},
    Row{"AccessCodeCountry49", "00 49 30 7218666", "+49 (30) 7218666"},
    Row{"AccessCodeCountry1", "001 212 555 0199", "+1 (212) 555 0199"},
    Row{"AccessCodeAfterLabelOldCode", "Fax: 0044 171 930 8890", "Fax: +44 (20) 7930 8890"},
    Row{"AccessCodeAfterSeparators", "Fax:-(0044 20 7123 4567", "Fax:- +44 (20) 7123 4567"},
    Row{"AccessCodeAloneStays", "00", "00"},
    Row{"AccessCodeWithoutDigitAfterStays", "00 - x", "00 - x"},
    Row{"AccessCodeFromReplacement", "+44 171 930 8890", "+44 (20) 7930 8890", Replace("+44", "0044")},
    Row{"TrunkZeroOldCode", "+44 (0)171 930 8890", "+44 (0) 20 7930 8890"},
    Row{"TrunkZeroOldCodeCompact", "+44 (0)171 930 8890", "+4402079308890", Style(3)},
    Row{"TrunkZeroLeadDigit", "+44 (0)1266 12345", "+44 (0) 28 2561 2345"},
    Row{"TrunkZeroSameCodeAsBefore", "+44 (0)20 79308890", "+44 (0) 20 79308890"},
    Row{"TrunkZeroOldCodeWithoutLocal", "+44 (0)171", "+44 (0) 171"},
    Row{"CodeWithoutZeroCompact", "+44 1232 123456", "+442890123456", Style(3)},
    Row{"CodeWithoutZeroMobile", "+44 370 123456", "+44 (7770) 123456"},
    Row{"CodeWithoutZeroSameCodeAsBefore", "+44 20 79308890", "+44 (20) 79308890"},
    Row{"CodeWithoutZeroRemoveZeroOption", "+44 (1203) 539 487", "+44 (24) 7653 9487", Intl(0, 1)}),
    RowName);

NumberOptions OldOnly(NumberOptions o = {}) {
  o.old_codes_only = true;
  return o;
}

// "Change only numbers with an old code": a number is written anew only when an old code or the
// custom replacement changed it.
INSTANTIATE_TEST_SUITE_P(OldCodesOnly, FixNumberRows, testing::Values(
    Row{"OldCodeInChosenStyle", "0171 930 8890", "020 7930 8890", OldOnly(Style(2))},
    Row{"OldCodeWithPrefixOption", "0171 930 8890", "+44 (20) 7930 8890", OldOnly(Intl(2, 1))},
    Row{"OldCodeAfterPlus", "+44 171 930 8890", "+44 (20) 7930 8890", OldOnly()},
    Row{"OldCodeAfterTrunkZero", "+44 (0)171 930 8890", "+44 (0) 20 7930 8890", OldOnly()},
    Row{"OldCodeAfterAccessCode", " 0044 1232 123456", "+44 (28) 9012 3456", OldOnly()},
    Row{"NoRowAsGiven", " 0121  123.4567", " 0121  123.4567", OldOnly(Style(3))},
    Row{"SameCodeAsGiven", "020 79308890", "020 79308890", OldOnly()},
    Row{"ForeignAsGiven", "00 49 30 7218666", "00 49 30 7218666", OldOnly(Intl(1, 1))},
    Row{"TextAsGiven", "  [Text]  ", "  [Text]  ", OldOnly()},
    Row{"UnrecognisedAsGiven", "(Home) 01719308890", "(Home) 01719308890", OldOnly()},
    Row{"DecodedAsGiven", "0121 123 4567 ☎", "0121 123 4567 ☎", OldOnly()},
    Row{"ReplacedInChosenStyle", "0485 1234 5678", "(0845) 1234 5678", OldOnly(Replace("0485", "0845"))},
    Row{"ReplacedByItselfAsGiven", "0485 1234 5678", "0485 1234 5678", OldOnly(Replace("0485", "0485"))},
    Row{"ReplacementMissesAsGiven", "(0485) 1234 5678", "(0485) 1234 5678", OldOnly(Replace("0485", "0845"))}),
    RowName);

// The custom search-and-replace.
INSTANTIATE_TEST_SUITE_P(CustomReplacement, FixNumberRows, testing::Values(
    Row{"ReplacesAtStart", "0485 1234 5678", "(0845) 1234 5678", Replace("0485", "0845")},
    Row{"ReplacesEveryOccurrence", "0485 0485 0485", "(0845) 0845 0845", Replace("0485", "0845")},
    Row{"NotAtStartNothingReplaced", "(0485) 1234 5678", "(0485) 1234 5678", Replace("0485", "0845")},
    Row{"EmptySearchChangesNothing", "0171 930 8890", "(020) 7930 8890", Replace("", "x")},
    Row{"EmptyReplacement", "9 0171 930 8890", "(020) 7930 8890", Replace("9 ", "")},
    Row{"SwitchOffIgnoresTexts", "0485 1234 5678", "(0485) 1234 5678",
        NumberOptions{NumberStyle::Brackets, PrefixAction::AsFound, LeadingZero::AsFound, false,
                      "0485", "0845"}},
    Row{"CaseSensitive", "tel 0171 930 8890", "tel (020) 7930 8890", Replace("TEL", "")},
    Row{"NonOverlapping", "aaa 0171 930 8890", "ba (020) 7930 8890", Replace("aa", "b")},
    Row{"ReplacementIntroducesUnicode", "Tel 0171 930 8890", "Téléphone (020) 7930 8890",
        Replace("Tel", "Téléphone")},
    Row{"ReplacementAfterSpaceCollapse", "0485  1234", "(0845) 1234", Replace("0485 ", "0845 ")}),
    RowName);

// Text is UTF-8; a character is one code point and never split.
INSTANTIATE_TEST_SUITE_P(Unicode, FixNumberRows, testing::Values(
    Row{"AccentedLabel", "Téléphone 0171 930 8890", "Téléphone (020) 7930 8890"},
    Row{"EmojiLabel", "📞0171 930 8890", "📞 (020) 7930 8890"},
    Row{"NonAsciiAfterAreaCodeIsOneCharacter", "0171é", "0171é"},
    Row{"NonAsciiLastCharacterFillsPlaceholder", "0171 930 889é", "(020) 7930 889é"},
    Row{"NonAsciiLeftOver", "0171 930 8890 poste 21 ☎", "(020) 7930 8890 poste 21 ☎"},
    Row{"NonAsciiNotADigit", "٠١٧١ 930 8890", "٠١٧١ (930) 8890"},
    Row{"NoBreakSpaceBeforeLocalPartDropped", "0171\u00a0930 8890", "(020) 7930 8890"},
    Row{"NoBreakSpaceNotTrimmed", "\u00a00171 930 8890", "\u00a0 (020) 7930 8890"},
    Row{"InvalidUtf8Unchanged", "0171 930 8890\xff", "0171 930 8890\xff"},
    Row{"ShortWithContinuationByteUnchanged", "0171 9\x80", "0171 9\x80"},
    Row{"OverlongUnchanged", "\xc0\xb0" "171 930 8890", "\xc0\xb0" "171 930 8890"},
    Row{"SurrogateUnchanged", "\xed\xa0\x80 0171 930 8890", "\xed\xa0\x80 0171 930 8890"},
    Row{"TruncatedSequenceUnchanged", "0171 930 8890 \xe2\x98", "0171 930 8890 \xe2\x98"},
    Row{"CompactWithUnicodeLabel", "Tél 0171 930 8890", "Tél 02079308890", Style(3)},
    Row{"ReplacementBringsNonAsciiIntoLabel", "Tel 0171 930 8890", "Tél (020) 7930 8890", Replace("Tel", "Tél")},
    Row{"ReplacementBringsNonAsciiAfterDigit", "0171 930 8890", "٠ (171) 93٠ 889٠", Replace("0", "٠")},
    Row{"NonAsciiLabelEndingInBracket", "Tél (0171) 930 8890", "Tél 020-7930 8890", Style(1)},
    Row{"NonAsciiLabelBeforePlus", "Tél+44 171 930 8890", "Tél +44 20-7930 8890", Intl(2, 1, 1)},
    Row{"NonAsciiAfterTrunkZeroCode", "+44 (0)1232 123456 ☎", "+44 (0) 28 9012 3456 ☎"},
    Row{"NonAsciiAfterAccessCode", "0044 370 123456 poste ☎", "+44 (7770) 123456 poste ☎"},
    Row{"NonAsciiAfterCodeWithoutZero", "+44 1266 123456 ☎", "+44 (28) 2512 3456 ☎"}),
    RowName);
// clang-format on

TEST(FixNumber, HandlesTextsLongerThanSixteenBitPositions) {
  const std::string tail(70000, '9');
  const std::string input = "0171 930 8890 " + tail;
  EXPECT_EQ(FixNumber(input, {}), "(020) 7930 8890 " + tail);
  const std::string spaces(40000, ' ');
  EXPECT_EQ(FixNumber(spaces + "0171" + spaces + "930 8890" + spaces, {}), "(020) 7930 8890");
}

TEST(FixNumber, InvalidFindTextLeavesNumberConverted) {
  NumberOptions options = Replace("\xff", "x");
  EXPECT_EQ(FixNumber("0171 930 8890", options), "(020) 7930 8890");
}

TEST(FixNumber, KeepsNothingBetweenCalls) {
  NumberOptions intl = Intl(2, 1, 3);
  EXPECT_EQ(FixNumber("0171 930 8890", intl), "+442079308890");
  EXPECT_EQ(FixNumber("0171 930 8890", {}), "(020) 7930 8890");
  EXPECT_EQ(FixNumber("0171 930 8890", intl), "+442079308890");
}

// The results recorded from the converter before it was rewritten for speed, and recorded again
// only where a deliberate change of behaviour changed them: the examples and generated texts,
// 5,009 in all, under every option set.
constexpr RecordedResult kRecorded[] = {
#include "tests/engine/recorded_results.inc"
};

TEST(FixNumber, GivesTheRecordedResultsUnderEveryOption) {
  const std::vector<NumberOptions> options = RecordedOptions();
  for (const RecordedResult& recorded : kRecorded) {
    EXPECT_EQ(FixNumber(recorded.input, {}), recorded.with_defaults)
        << "'" << recorded.input << "'";
    EXPECT_EQ(DigestOfResults(recorded.input, options), recorded.digest)
        << "'" << recorded.input << "' differs under some option set";
  }
}

// With "old codes only", a number in any form comes back byte for byte unless its code is an
// old one, and a second run changes nothing the first changed.
TEST(FixNumber, OldCodesOnlyChangesOldCodesOnce) {
  constexpr std::string_view kForms[] = {"{0} 930 8890",        "({0}) 930-8890",
                                         "(Home) {0}.930.8890", "+44 {0} 930 8890",
                                         "+44 {1} 930 8890",    "+44 (0){1} 930 8890",
                                         "0044 {1} 930 8890",   "Fax: 00 44 ({1}) 930 8890",
                                         "(00 44) {1} 930 8890"};
  const auto fill = [](std::string_view form, const std::string& code) {
    std::string s(form);
    if (const auto at = s.find("{0}"); at != std::string::npos) s.replace(at, 3, code);
    if (const auto at = s.find("{1}"); at != std::string::npos) s.replace(at, 3, code.substr(1));
    return s;
  };
  for (const NumberOptions& options : RecordedOptions()) {
    if (options.replace) continue;
    const NumberOptions old_only = OldOnly(options);
    for (const CodeChange& row : CodeChanges()) {
      const std::string not_a_row = std::string(row.old_code) + "9";
      for (std::string_view form : kForms) {
        const std::string old = fill(form, std::string(row.old_code));
        const std::string fixed = FixNumber(old, old_only);
        EXPECT_EQ(fixed == old, row.new_code == row.old_code) << old;
        EXPECT_EQ(FixNumber(fixed, old_only), fixed) << old;
        if (FindCodeChange(not_a_row) == nullptr) {
          EXPECT_EQ(FixNumber(fill(form, not_a_row), old_only), fill(form, not_a_row));
        }
      }
    }
  }
}

// The test for a run of spaces reads eight bytes at a time; a run is found at every offset.
TEST(FixNumber, CollapsesARunOfSpacesWhereverItStands) {
  for (std::size_t fill = 0; fill <= 16; ++fill) {
    const std::string head = "01632 1" + std::string(fill, '5');
    const std::string tail = "1234 5678 9012";
    EXPECT_EQ(FixNumber(head + "  " + tail, {}), FixNumber(head + " " + tail, {})) << fill;
  }
}

// The end of a label is found eight bytes at a time; it is found at every offset, and after a
// character that is not ASCII.
TEST(FixNumber, EndsALabelAtEveryLength) {
  for (std::size_t length = 1; length <= 20; ++length) {
    const std::string label(length, 'L');
    EXPECT_EQ(FixNumber(label + " 0171 930 8890", {}), label + " (020) 7930 8890") << length;
    EXPECT_EQ(FixNumber(label + "+1", {}), label + " +1") << length;
    EXPECT_EQ(FixNumber("T\xc3\xa9" + label + " 0171 930 8890", {}),
              "T\xc3\xa9" + label + " (020) 7930 8890")
        << length;
  }
}

// A local part without a full stop or tilde is copied whole, found four or eight bytes at a
// time; one between two digits reads as a space at every offset, one elsewhere stays.
TEST(FixNumber, SpacesAFullStopOrTildeAtEveryOffset) {
  for (std::size_t digits = 1; digits <= 12; ++digits) {
    const std::string head = std::string("123456789012").substr(0, digits);
    for (const char mark : {'.', '~'}) {
      EXPECT_EQ(FixNumber("0121 " + head + mark + "4", {}), "(0121) " + head + " 4") << head;
      EXPECT_EQ(FixNumber("0121 " + head + mark, {}), "(0121) " + head + mark) << head;
      EXPECT_EQ(FixNumber("0121 " + head + mark + "x", {}), "(0121) " + head + mark + "x") << head;
    }
  }
}

TEST(StripSpace, RemovesOnlySpaces) {
  EXPECT_EQ(StripSpace(" +44 (20)\t7930-8890 "), "+44(20)\t7930-8890");
  EXPECT_EQ(StripSpace(""), "");
  EXPECT_EQ(StripSpace("   "), "");
}

}  // namespace
}  // namespace dialmend
