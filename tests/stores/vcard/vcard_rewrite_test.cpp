#include "stores/vcard/vcard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "platform/utf8.h"
#include "tests/stores/vcard/vcard_test_util.h"

// Rewriting a card: one number changed in place, or the reason it is refused, in the card's own
// character set, line ends and folding.

namespace dialmend {
namespace {

struct ChangeRow {
  std::string_view name;
  std::string source;
  std::size_t index;
  std::string number;
  std::string from;  // the old text, empty when the bytes stay as they were
  std::string to;
  std::string_view rejected = "";  // the reason the change was refused
};

class VCardChange : public testing::TestWithParam<ChangeRow> {};

TEST_P(VCardChange, ReplacesOnlyThatValueOrSaysWhyNot) {
  const ChangeRow& row = GetParam();
  const std::string bytes = BytesOf(row.source);
  const VCard card = MustParse(bytes);
  const std::vector<PhoneChange> changes{{row.index, row.number}};
  const VCardRewrite rewrite = RewriteVCard(card, changes);
  EXPECT_EQ(rewrite.bytes, row.from.empty() ? bytes : Replaced(bytes, row.from, row.to));
  if (!row.rejected.empty()) {
    ASSERT_EQ(rewrite.rejected.size(), 1u);
    EXPECT_EQ(rewrite.rejected[0].index, row.index);
    EXPECT_EQ(rewrite.rejected[0].reason, row.rejected);
    return;
  }
  EXPECT_TRUE(rewrite.rejected.empty());
  const PhoneEntry& before = card.Phones().at(row.index);
  EXPECT_EQ(MustParse(rewrite.bytes).Phones().at(row.index).number,
            before.is_tel_uri ? TelUriFromNumber(row.number).number.value_or("?") : row.number);
}

const ChangeRow kChanges[] = {
    {"AppleKeepsEveryOtherByte", "apple_contacts.vcf", 3, "020 7930 8890",
     "type=VOICE:0171 930 8890\r\n", "type=VOICE:020 7930 8890\r\n"},
    {"SoftBrokenQuotedPrintable", "outlook_21_qp.vcf", 7, "020 8930 8801",
     ":0181=20930=\r\n 8801\r\n", ":020 8930 8801\r\n"},
    {"ParametersFoldedBeforeTheColon",
     Card("TEL;ENCODING=QUOTED-PRINTABLE;TY\r\n PE=HOME:0171=20930=\r\n 8893\r\n", "2.1"), 0,
     "020 7930 8893", "0171=20930=\r\n 8893", "020 7930 8893"},
    {"QuotedPrintableInItsCharset",
     Card("TEL;CHARSET=Windows-1252;ENCODING=QUOTED-PRINTABLE:0171 930 8893\r\n", "2.1"), 0,
     "020 7930 8893 B\u00fcro \u20ac=1 ", ":0171 930 8893\r\n",
     ":020 7930 8893 B=FCro =\r\n=80=3D1=20\r\n"},
    {"QuotedPrintableLineBreak", Card("TEL;ENCODING=QUOTED-PRINTABLE:0171\r\n", "2.1"), 0,
     "020\r\n1", ":0171\r\n", ":020=0D=0A1\r\n"},
    {"Latin1Bytes", Card("TEL;CHARSET=ISO-8859-1:0171 930 8893\r\n", "2.1"), 0,
     "020 7930 8893 B\u00fcro", ":0171 930 8893\r\n", ":020 7930 8893 B\xfcro\r\n"},
    {"AsciiIntoAnUnreadableCharset", Card("TEL;CHARSET=X-NO-SUCH-SET:0171 930 8893\r\n", "2.1"), 0,
     "020 7930 8893", "0171 930 8893", "020 7930 8893"},
    {"FoldsContinueWithOneSpace", Card("TEL:1\r\n"), 0, std::string(100, '2'), "TEL:1\r\n",
     "TEL:" + std::string(71, '2') + "\r\n " + std::string(29, '2') + "\r\n"},
    {"ByteOrderMarkAndLineFeedsKept", "bom_lf_folded.vcf", 0, "020 7930 8850",
     ":0171 930\n  8850\n", ":020 7930 8850\n"},
    {"LineFeedOfTheRewrittenPropertyKept", "mixed_line_ends.vcf", 0, "020 8930 8860",
     ":0181 930 8860\n", ":020 8930 8860\n"},
    {"NoFinalLineEndStillNone", "mixed_line_ends.vcf", 1, "07700 900862",
     ":07700 900861\r\nEND:VCARD", ":07700 900862\r\nEND:VCARD"},
    {"TelUriKeepsItsParameters", "v4_tel_uri.vcf", 0, "+44 (0) 20 7930  8820",
     ":tel:+44-171-930-8820;ext=123\r\n", ":tel:+44-0-20-7930-8820;ext=123\r\n"},
    {"TelUriKeepsItsSchemeAsWritten", "v4_tel_uri.vcf", 4, "+44 20 7930 8823",
     ":TEL:+44-171-930-8823\r\n", ":TEL:+44-20-7930-8823\r\n"},
    {"TelUriKeepsAnEscapedSeparator", Card("TEL;VALUE=uri:tel:+44-20-7946-0010\\;ext=5\r\n"), 0,
     "+44 20 7946 0011", "tel:+44-20-7946-0010\\;", "tel:+44-20-7946-0011\\;"},
    // The carriage return lands on the 75th octet of the rewritten line.
    {"NoFoldRightAfterALoneCarriageReturn",
     Card("TEL;VALUE=uri:tel:+44-20-7946-0010;x=" + std::string(37, 'a') + "\rZ\r\n"), 0,
     "+44 20 7946 0011", "0010;", "0011;"},
    {"PlainCommasStayPlainIn30", Card("TEL:0171,,123\r\n"), 0, "020,,123", "0171,,123", "020,,123"},
    {"EscapedCommasStayEscaped", Card("TEL:0171\\,123\r\n"), 0, "020,123", "0171\\,123",
     "020\\,123"},
    {"CommasAreEscapedIn40", Card("TEL:0171 930\r\n", "4.0"), 0, "020,123", "0171 930",
     "020\\,123"},
    {"CommasStayPlainIn21", Card("TEL:0171 930\r\n", "2.1"), 0, "020,123", "0171 930", "020,123"},
    {"BackslashIsAlwaysEscaped", Card("TEL:0171\r\n"), 0, "020\\1", "0171", "020\\\\1"},
    {"NewLineIsEscaped", Card("TEL:0171\r\n"), 0, "020\nnight", "0171", "020\\nnight"},
    {"SemicolonsStayPlain", Card("TEL:0171\r\n"), 0, "020;5", "0171", "020;5"},
    {"EscapedSemicolonsStayEscaped", Card("TEL:0171\\;1\r\n"), 0, "020;5", "0171\\;1", "020\\;5"},
    {"RefusedNotUtf8", Card("TEL:0171\r\n"), 0, "020\xff", "", "",
     "the new number is not UTF-8 text"},
    {"RefusedLooksLikeAUri", Card("TEL:0171\r\n"), 0, "tel:+44", "", "",
     "the new number would read as a tel: URI"},
    {"RefusedNul", Card("TEL:0171\r\n"), 0, std::string("020\0", 4), "", "",
     "the new number holds a NUL character"},
    {"RefusedCarriageReturn", Card("TEL:0171\r\n"), 0, "020\r\n1", "", "",
     "the new number holds a carriage return, which the card cannot carry"},
    {"RefusedLetterInATelUri", "v4_tel_uri.vcf", 0, "+44 20 7930 8820 ext 5", "", "",
     "a tel: URI cannot carry \"e\""},
    {"RefusedUriSpaceLikeCharacter", Card("TEL:tel:+44-20\r\n"), 0, "+44\u00a020", "", "",
     "a tel: URI cannot carry the character U+00A0"},
    {"RefusedCharacterOutsideTheCharset", Card("TEL;CHARSET=ISO-8859-1:0171 930 8893\r\n", "2.1"),
     0, "020 7930 8893 \u2192", "", "", "the card's character set cannot carry \"\u2192\""},
    {"RefusedNonAsciiInAnUnreadableCharset",
     Card("TEL;CHARSET=X-NO-SUCH-SET:0171 930 8893\r\n", "2.1"), 0, "020 7930 8893 \u00e9", "", "",
     "the card's character set cannot carry \"\u00e9\""},
    {"Base64In21", Card("TEL;HOME;ENCODING=BASE64:MDE3MSA5MzAgODg5MA==\r\n", "2.1"), 0,
     "020 7930 8890", ":MDE3MSA5MzAgODg5MA==\r\n", ":MDIwIDc5MzAgODg5MA==\r\n"},
    {"BEncodingIn30", Card("TEL;type=home;encoding=B:MDE3MSA5MzAgODg5MA==\r\n"), 0,
     "(020) 7930 8890", ":MDE3MSA5MzAgODg5MA==\r\n", ":KDAyMCkgNzkzMCA4ODkw\r\n"},
    {"Base64PaddingLeftOffStaysOff", Card("TEL;ENCODING=b:MDE3MSA5MzAgODg5MA\r\n"), 0,
     "020 7930 8890", ":MDE3MSA5MzAgODg5MA\r\n", ":MDIwIDc5MzAgODg5MA\r\n"},
    {"Base64OnItsOwnIndentedLineBeforeABlankLine",
     Card("TEL;HOME;ENCODING=BASE64:\r\n  MDE3MSA5MzAgODg5MA==\r\n\r\n", "2.1"), 0, "020 7930 8890",
     ":\r\n  MDE3MSA5MzAgODg5MA==\r\n\r\n", ":\r\n  MDIwIDc5MzAgODg5MA==\r\n\r\n"},
    {"Base64ContinuedWithoutLeadingSpaces",
     Card("TEL;HOME;ENCODING=BASE64:MDE3MSA5\r\nMzAgODg5MA==\r\n", "2.1"), 0,
     "+44 (0) 20 7930 8890", ":MDE3MSA5\r\nMzAgODg5MA==\r\n",
     ":KzQ0ICgw\r\nKSAyMCA3OTMwIDg4OTA=\r\n"},
    {"Base64FoldedAtItsOwnWidth",
     Card("TEL;ENCODING=b:MDE3MSA5MzAgODg5MCAwMTcxI\r\n DkzMCA4ODkxIDAxNzEgOTMwIDg4OTI=\r\n"), 0,
     "020 7930 8890 020 7930 8891 020 7930 8892 020 7930 8893",
     ":MDE3MSA5MzAgODg5MCAwMTcxI\r\n DkzMCA4ODkxIDAxNzEgOTMwIDg4OTI=\r\n",
     ":MDIwIDc5MzAgODg5MCAwMjAgN\r\n zkzMCA4ODkxIDAyMCA3OTMwIDg4OTIgMDIwIDc5\r\n MzAgODg5Mw==\r\n"},
    {"Base64InItsCharset",
     Card("TEL;CHARSET=ISO-8859-1;ENCODING=BASE64:QvxybyAwMTcxIDkzMCA4ODkz\r\n", "2.1"), 0,
     "B\u00fcro 020 7930 8893", ":QvxybyAwMTcxIDkzMCA4ODkz\r\n", ":QvxybyAwMjAgNzkzMCA4ODkz\r\n"},
    {"Base64TelUriKeepsItsParameters",
     Card("TEL;VALUE=uri;ENCODING=b:dGVsOis0NC0yMC03OTQ2LTAwMTA7ZXh0PTU=\r\n"), 0,
     "+44 20 7946 0011",
     "dGVsOis0NC0yMC03OTQ2LTAwMTA7ZXh0PTU=", "dGVsOis0NC0yMC03OTQ2LTAwMTE7ZXh0PTU="},
    {"RefusedControlCharacterInBase64", Card("TEL;ENCODING=b:MDE3MSA5MzAgODg5MA==\r\n"), 0,
     "020\t7930 8890", "", "", "the new number holds the character U+0009, a control character"},
    {"RefusedCharacterOutsideTheCharsetOfBase64",
     Card("TEL;CHARSET=ISO-8859-1;ENCODING=BASE64:QvxybyAwMTcxIDkzMCA4ODkz\r\n", "2.1"), 0,
     "020 7930 8893 \u2192", "", "", "the card's character set cannot carry \"\u2192\""},
    {"RefusedEntryTheCardDoesNotHave", Card("TEL:0171 930 8893\r\n"), 1, "020 7930 8893", "", "",
     "the card has no phone entry 1"},
    {"CrCrLfCardFoldsWithItsOwnLineEnd", "crcrlf_lines.vcf", 1, std::string(100, '2'),
     "TEL;HOME:020 7946 0000\r\r\n",
     "TEL;HOME:" + std::string(66, '2') + "\r\r\n " + std::string(34, '2') + "\r\r\n"},
    {"UndeclaredCodePageTakesAnAsciiNumber", "qp_windows1252_no_charset.vcf", 0, "+44 171 930 8893",
     "TEL;CELL:0171 930 8893", "TEL;CELL:+44 171 930 8893"},
    {"UndeclaredCodePageRefusesOtherText", "qp_windows1252_no_charset.vcf", 0,
     "0171 930 8893 \u00e9", "", "", "the card's character set cannot carry \"\u00e9\""},
    {"Latin1CardTakesAnAsciiNumber", "latin1_no_charset.vcf", 0, "020 7930 0000",
     "TEL:0171 930 0000", "TEL:020 7930 0000"},
    {"LowerCaseGroupedTel", "lower_case_grouped.vcf", 0, "020 7946 0001",
     "home.tel;type=home:020 7946 0000", "home.tel;type=home:020 7946 0001"},
};

INSTANTIATE_TEST_SUITE_P(Values, VCardChange, testing::ValuesIn(kChanges), kRowName);

// Sets only the C library's iconv converts. Windows has none: there such a set stays unread, as
// one the program does not know.
#ifndef _WIN32
const ChangeRow kConvertedChanges[] = {
    {"ShiftJisFullWidthDigits", "shift_jis_21.vcf", 0, "\uff10\uff13\u3000\uff19\uff18\uff17\uff16",
     "\x82O\x82R\x81@\x82P\x82Q\x82R\x82S\x81@\x82T\x82U\x82V\x82W",
     "\x82O\x82R\x81@\x82X\x82W\x82V\x82U"},
    // The phones that write SHIFT_JIS mean a backslash by the byte 0x5C, not a yen sign.
    {"ShiftJisBackslashIsEscaped", "shift_jis_21.vcf", 1, "090\\1234", "SHIFT_JIS:090-1234-5678",
     "SHIFT_JIS:090\\\\1234"},
    {"ShiftJisCannotCarryAnEmoji", "shift_jis_21.vcf", 1, "\U0001F4DE 090", "", "",
     "the card's character set cannot carry \"\U0001F4DE\""},
    // Each character comes back to ASCII, so a fold may fall between any two.
    {"Iso2022JpEachCharacterInItsOwnShift", "iso2022jp_30.vcf", 0, "03-1234-5678 \u5185\u7dda",
     "ISO-2022-JP:03-1234-5678", "ISO-2022-JP:03-1234-5678 \x1b$BFb\x1b(B\x1b$B@~\x1b(B"},
    {"Windows1250", "windows1250_qp_21.vcf", 0, "022 123 45 67 \u0141\u00f3d\u017a",
     "WINDOWS-1250:022 123 45 67",
     "WINDOWS-1250:022 123 45 67 \xa3\xf3"
     "d\x9f"},
};

INSTANTIATE_TEST_SUITE_P(Charsets, VCardChange, testing::ValuesIn(kConvertedChanges), kRowName);
#endif

// An encoded and a plain number change together, each written the way it was, and a refused
// change stops none of the others.
TEST(VCard, RewritesSeveralNumbersInOnePass) {
  const std::string bytes = Card(
      "TEL;TYPE=HOME;ENCODING=b:MDE3MSA5MzAgODg5MA==\r\nTEL;TYPE=WORK:0171 930 8893\r\n"
      "TEL;TYPE=CELL:07700 900123\r\n");
  const VCard card = MustParse(bytes);
  ASSERT_EQ(PhonesOf(card.Phones()),
            "Business: 0171 930 8893\nHome: 0171 930 8890\nMobile: 07700 900123\n");
  // Of the two changes to the mobile number the later, refused, wins.
  const std::vector<PhoneChange> changes{
      {2, "07700 900000"}, {0, "020 7930 8893"}, {1, "020 7930 8890"}, {2, "07700\r900124"}};
  const VCardRewrite rewrite = RewriteVCard(card, changes);
  EXPECT_EQ(rewrite.bytes,
            Replaced(Replaced(bytes, ":MDE3MSA5MzAgODg5MA==\r\n", ":MDIwIDc5MzAgODg5MA==\r\n"),
                     ":0171 930 8893\r\n", ":020 7930 8893\r\n"));
  ASSERT_EQ(rewrite.rejected.size(), 1u);
  EXPECT_EQ(rewrite.rejected[0].index, 2u);
}

struct CharsetRow {
  std::string_view name;
  std::string_view charset;
};

class VCardCharsetRoundTrip : public testing::TestWithParam<CharsetRow> {};

// Every byte of the set decodes to a character that encodes back to the same byte.
TEST_P(VCardCharsetRoundTrip, WritesEveryHighByteBackAsItWas) {
  std::string body;
  std::vector<std::string> chunks;
  for (int first = 0x80; first < 0x100; first += 32) {
    std::string chunk;
    for (int byte = first; byte < first + 32; ++byte) chunk += static_cast<char>(byte);
    chunks.push_back(chunk);
    body += "TEL;CHARSET=" + std::string(GetParam().charset) + ":" + chunk + "\r\n";
  }
  const std::string bytes = Card(body, "2.1");
  const VCard card = MustParse(bytes);
  ASSERT_EQ(card.Phones().size(), chunks.size());
  std::vector<PhoneChange> changes;
  std::string expected = bytes;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    changes.push_back({i, card.Phones()[i].number + "9"});
    expected = Replaced(expected, chunks[i] + "\r\n", chunks[i] + "9\r\n");
  }
  const VCardRewrite rewrite = RewriteVCard(card, changes);
  EXPECT_TRUE(rewrite.rejected.empty());
  EXPECT_EQ(rewrite.bytes, expected);
}

const CharsetRow kCharsets[] = {
    {"Latin1", "ISO-8859-1"}, {"Windows1252", "windows-1252"}, {"Latin9", "ISO-8859-15"}};

INSTANTIATE_TEST_SUITE_P(Charsets, VCardCharsetRoundTrip, testing::ValuesIn(kCharsets), kRowName);

struct FoldRow {
  std::string_view name;
  std::string_view version;
  std::string_view property;
  std::string_view eol;
  std::string_view filler;
  std::size_t count;
};

class VCardFold : public testing::TestWithParam<FoldRow> {};

// Shifting a long value by one to three bytes puts every byte of a multi-byte character at the
// fold point in turn.
TEST_P(VCardFold, FoldsALongValueAt75OctetsOnCharacterBoundaries) {
  const FoldRow& row = GetParam();
  const std::string eol(row.eol);
  const VCard card = MustParse("BEGIN:VCARD" + eol + "VERSION:" + std::string(row.version) + eol +
                               std::string(row.property) + ":0171" + eol + "END:VCARD" + eol);
  const bool quoted_printable = row.property.find("QUOTED") != std::string_view::npos;
  constexpr std::string_view kHex = "0123456789ABCDEF";
  for (std::size_t shift = 0; shift < 4; ++shift) {
    SCOPED_TRACE("shift " + std::to_string(shift));
    std::string number(shift, '1');
    for (std::size_t i = 0; i < row.count; ++i) number += row.filler;
    const std::vector<PhoneChange> changes{{0, number}};
    const std::string bytes = RewriteVCard(card, changes).bytes;
    EXPECT_EQ(MustParse(bytes).Phones().at(0).number, number);
    EXPECT_EQ(bytes.find("\r\n") != std::string::npos, row.eol == "\r\n");
    EXPECT_GT(std::count(bytes.begin(), bytes.end(), '\n'), 5) << "the value was not folded";
    for (std::string_view rest = bytes; !rest.empty();) {
      std::string_view line = rest.substr(0, rest.find('\n'));
      rest.remove_prefix(std::min(line.size() + 1, rest.size()));
      if (line.ends_with('\r')) line.remove_suffix(1);
      EXPECT_LE(line.size(), 75u) << line;
      EXPECT_TRUE(IsValidUtf8(line)) << "a fold splits a character: " << line;
      // Each "=" of the value starts a whole =XX triplet, or is the soft break ending the line.
      for (std::size_t at = line.starts_with("TEL") ? line.find(':') + 1 : 0;
           quoted_printable && at < line.size(); ++at) {
        if (line[at] != '=' || at + 1 == line.size()) continue;
        EXPECT_TRUE(at + 2 < line.size() && kHex.find(line[at + 1]) != kHex.npos &&
                    kHex.find(line[at + 2]) != kHex.npos)
            << line;
        at += 2;
      }
    }
  }
}

const FoldRow kFolds[] = {
    {"AsciiCrlf", "3.0", "TEL;TYPE=HOME", "\r\n", "0", 200},
    {"TwoByteCharacters", "3.0", "TEL;TYPE=HOME", "\r\n", "\u00e9", 100},
    {"ThreeByteCharacters", "4.0", "TEL;TYPE=HOME", "\n", "\u20ac", 80},
    {"FourByteCharacters", "3.0", "item1.TEL", "\n", "\U0001F4DE", 60},
    {"Escapes", "3.0", "TEL", "\r\n", "\\", 120},
    {"QuotedPrintable", "2.1", "TEL;HOME;ENCODING=QUOTED-PRINTABLE", "\r\n", "\u00e9", 80},
    {"QuotedPrintableAscii", "2.1", "TEL;ENCODING=QUOTED-PRINTABLE", "\r\n", "0=", 80},
};

INSTANTIATE_TEST_SUITE_P(Values, VCardFold, testing::ValuesIn(kFolds), kRowName);

}  // namespace
}  // namespace dialmend
