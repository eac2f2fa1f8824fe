#include "stores/vcard/vcard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/phone_field.h"
#include "platform/utf8.h"
#include "tests/stores/vcard/vcard_test_util.h"

namespace dialmend {
namespace {

using enum CardKind;
using enum PhoneField;
using enum VCardVersion;

struct ReadRow {
  std::string_view name;
  std::string source;
  std::string phones;  // as PhonesOf writes them
  std::string_view file_as = "Test Person";
  VCardVersion version = V30;
  CardKind kind = Contact;
  std::string_view line_end = "\r\n";
};

class VCardRead : public testing::TestWithParam<ReadRow> {};

TEST_P(VCardRead, GivesVersionKindFilingNameLineEndAndPhonesInFieldOrder) {
  const ReadRow& row = GetParam();
  const VCard card = MustParse(BytesOf(row.source));
  EXPECT_EQ(card.Version(), row.version);
  EXPECT_EQ(card.Kind(), row.kind);
  EXPECT_EQ(card.FileAs(), row.file_as);
  EXPECT_EQ(card.LineEnd(), row.line_end);
  EXPECT_EQ(PhonesOf(card.Phones()), row.phones);
}

const ReadRow kProducers[] = {
    {"Apple", "apple_contacts.vcf",
     "Assistant: 01632 960002\nBusiness: 0181 496 0000\nBusiness Fax: 0171 946 0002\n"
     "Home: 0171 930 8890\nHome Fax: 0171 946 0001\nMobile: 07700 900123\n"
     "Mobile: 07700 900124\nOther: 01632 960001\nPager: 07623 900004\n"
     "Primary: 020 7946 0003\nRadio: 0113 496 0005\n",
     "Chidi Okafor"},
    {"Google", "google_export.vcf",
     "Business: 0171-930-8892\nBusiness 2: 0171 930 8893\nHome: (0171) 930 8891\n"
     "Mobile: +44 7700 900456\nOther: 0800 123 4567\n",
     "Priya Natarajan"},
    {"EvolutionAllFields", "evolution_all_fields.vcf",
     "Assistant: 0171 930 0001\nBusiness: 0171 930 0002\nBusiness 2: 0171 930 0003\n"
     "Business Fax: 0171 930 0004\nCallback: 0171 930 0005\nCar: 0171 930 0006\n"
     "Company: 0171 930 0007\nHome: 0181 930 0008\nHome 2: 0181 930 0009\n"
     "Home Fax: 0181 930 0010\nISDN: 0181 930 0011\nMobile: 07700 900012\n"
     "Other: 0181 930 0013\nOther Fax: 0181 930 0014\nPager: 07623 900015\n"
     "Primary: 0171 930 0016\nRadio: 0171 930 0017\nTelex: 0171 930 0018\n"
     "TTY/TTDD: 0171 930 0019\n",
     "Hughes, Bethan"},
    {"Outlook21QuotedPrintable", "outlook_21_qp.vcf",
     "Assistant: 0171 930 8896\nBusiness: 0171 930 8893\nBusiness Fax: 0171 930 8895\n"
     "Callback: 0171 930 8897\nCar: 07700 900791\nCompany: 0171 930 8898\n"
     "Home: 0181 930 8894\nHome 2: 0181 930 8801\nHome Fax: 0181 930 8802\n"
     "ISDN: 0171 930 8803\nMobile: 07700 900789\nPager: 07623 900790\n"
     "Primary: 0171 930 8804\nRadio: 0171 930 8899\nTelex: 0171 930 8805\n"
     "TTY/TTDD: 0171 930 8800\n",
     "J\u00fcrgen M\u00fcller \u20ac", V21},
    {"Nextcloud30", "nextcloud_30.vcf",
     "Business: 0171 930 8842\nBusiness Fax: 0171 930 8843\nCar: 07700 900845\n"
     "Home: 0171 930 8840\nHome Fax: 0181 930 8844\nMobile: 07700 900841\n",
     "Tom\u00e1s O'Neill"},
    {"Version4TelUris", "v4_tel_uri.vcf",
     "Business: tel:+44-171-930-8820\nBusiness Fax: tel:+44-171-930-8821\n"
     "Home: tel:+44-20-7946-0010\nMobile: tel:07700-900-321\nPrimary: tel:+44-171-930-8823\n"
     "TTY/TTDD: tel:+44-18001-0171-930-8822\n",
     "Siobh\u00e1n N\u00ed Bhriain", V40},
    {"Thunderbird", "thunderbird_40.vcf",
     "Business: 0171 930 8830\nHome: 0181 930 8831\nMobile: 07700 900654\n"
     "Other: +46 8 123 456 78\nOther Fax: 0171 930 8832\nPager: 07623 900655\n",
     "Astrid Lindqvist", V40, Contact, "\n"},
    {"ByteOrderMarkLineFeedsAndFolds", "bom_lf_folded.vcf",
     "Business: 0171 930 8850\nHome: 0181 930 8851\n",
     "Marguerite Delacroix-Beaumont de la Tour d'Auvergne et de Saint-Germain-des-Pr\u00e9s", V30,
     Contact, "\n"},
    {"MixedLineEndsTakeTheBeginLines", "mixed_line_ends.vcf",
     "Home: 0181 930 8860\nMobile: 07700 900861\n", "Ann Mixed"},
    {"EvolutionList", "evolution_list.vcf", "", "Surgery staff", V30, Group},
    {"AppleGroup", "apple_group.vcf", "", "Dentists", V30, Group},
    {"Version4Group", "kind_group_v4.vcf", "", "Book club", V40, Group},
    {"Outlook21Base64", "outlook_21_base64.vcf",
     "Business: 0171 930 8893\nCallback: 0171 930 8897\nHome: 0171 930 8890\n"
     "Mobile: 07700 900123\n",
     "Adaeze Okonkwo", V21},
    {"Evolution30Base64", "evolution_30_base64.vcf",
     "Business: (020) 7930 8890\nHome: 0181 930 8851\nMobile: +44 20 7946 0000\n",
     "Bartholomew Ashdown-Carruthers", V30, Contact, "\n"},
};

INSTANTIATE_TEST_SUITE_P(Producers, VCardRead, testing::ValuesIn(kProducers), kRowName);

// Forms real producers write that the vCard standards do not allow; each is read, and every line
// but the TEL values is carried through as it is.
const ReadRow kWildForms[] = {
    {"CrCrLfLineEnds", "crcrlf_lines.vcf", "Business: 0171 930 8893\nHome: 020 7946 0000\n",
     "Carriage Doubled", V21, Contact, "\r\r\n"},
    {"LowerCaseNamesAndGroupedBeginAndEnd", "lower_case_grouped.vcf",
     "Home: 020 7946 0000\nMobile: 0171 930 8893\n", "Lower Case"},
    {"BareNameSlashInANameCommentsAndWords", "not_properties.vcf", "Mobile: 0171 930 8893\n", "",
     V30, Contact, "\n"},
    {"UnfoldedNoteLine", "unfolded_note_line.vcf", "Other: 0171 930 8893\n", "Broken note"},
    {"BlankAndWhitespaceLinesAfterEnd", "blank_lines_after_end.vcf", "Other: 0171 930 8893\n",
     "Trailing Blanks"},
    {"WordsAfterEnd", "text_after_end.vcf", "Other: 0171 930 8893\n", "Tail"},
    {"Latin1WithoutCharset", "latin1_no_charset.vcf", "Other: 0171 930 0000\n",
     "J\u00fcrgen M\u00fcller"},
    {"QuotedPrintableWindows1252WithoutCharset", "qp_windows1252_no_charset.vcf",
     "Mobile: 0171 930 8893\n", "J\u00fcrgen M\u00fcller \u20ac", V21},
    {"AgentCardNestedIn21", "agent_21_nested.vcf", "Mobile: 07700 900123\n", "Boss", V21},
    {"AgentCardStartingOnTheAgentLine",
     "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Boss\r\nAGENT:BEGIN:VCARD\r\nTEL:0171 930 0000\r\n"
     "END:VCARD\r\nTEL;CELL:07700 900123\r\nEND:VCARD\r\n",
     "Mobile: 07700 900123\n", "Boss", V21},
    {"NameWithSpaces", Card("Phone number:0171 930 8893\r\n"), ""},
    {"CommentBeforeTheCard", "# Contacts\r\n" + Card("TEL:0171 930 8893\r\n"),
     "Other: 0171 930 8893\n"},
    {"CrCrLfWithoutAFinalLineEnd",
     "BEGIN:VCARD\r\r\nFN:X\r\r\nTEL:0171 930 8893\r\r\nEND:VCARD\r\r", "Other: 0171 930 8893\n",
     "X", V30, Contact, "\r\r\n"},
};

INSTANTIATE_TEST_SUITE_P(WildForms, VCardRead, testing::ValuesIn(kWildForms), kRowName);

std::string FoldedOnEveryCharacter() {
  std::string body = "NOTE:a";
  for (int i = 0; i < 500'000; ++i) body += "\r\n b";
  return Card(body + "\r\nTEL;TYPE=CELL:07700\r\n  900\r\n\t123\r\n");
}

// Many itemN groups, each label naming the field of its own group's number only.
ReadRow LabelledItems(int count) {
  std::string body;
  std::string others;
  std::string radios;
  for (int i = 0; i < count; ++i) {
    const std::string group = "item" + std::to_string(i);
    const std::string number = "0171 930 " + std::to_string(1000 + i % 9000);
    body += group + ".TEL:" + number + "\r\n" + group +
            ".X-ABLabel:" + (i % 2 == 0 ? "Radio" : "_$!<Other>!$_") + "\r\n";
    (i % 2 == 0 ? radios : others) += (i % 2 == 0 ? "Radio: " : "Other: ") + number + "\n";
  }
  return {"EveryGroupedNumberTakesItsOwnLabel", Card(body), others + radios};
}

const ReadRow kCards[] = {
    {"WithoutVersionAsVersion3", "BEGIN:VCARD\r\nFN:Old\r\nTEL:0171 930 8893\r\nEND:VCARD\r\n",
     "Other: 0171 930 8893\n", "Old"},
    {"NamesAndValuesInAnyCase",
     "begin:vcard\r\nversion:2.1\r\nItem3.tel;Type=Cell:07700 900123\r\nfn:Lower Case\r\n"
     "end:vcard\r\n",
     "Mobile: 07700 900123\n", "Lower Case", V21},
    {"BlankLinesSkipped", Card("\r\nTEL:0171 930 8893\r\n\r\n"), "Other: 0171 930 8893\n"},
    {"HugeLineJustUnderTheSizeLimit",
     Card("NOTE:" + std::string(kMaxVCardBytes - 200, 'a') + "\r\nTEL:0171 930 8893\r\n"),
     "Other: 0171 930 8893\n"},
    {"ValueFoldedOnEveryCharacter", FoldedOnEveryCharacter(), "Mobile: 07700 900123\n"},
    LabelledItems(16'000),
    {"ParametersFoldedBeforeTheColon",
     Card("TEL;ENCODING=QUOTED-PRINTABLE;TY\r\n PE=HOME:0171=20930=\r\n 8893\r\n", "2.1"),
     "Home: 0171 930 8893\n", "Test Person", V21},
    {"KindGroupInCapitals", Card("KIND:GROUP\r\n"), "", "Test Person", V30, Group},
    {"EvolutionListFalseIsAContact", Card("X-EVOLUTION-LIST:FALSE\r\n"), ""},
    {"KindInsideAnotherValueIsNoKind", Card("NOTE:KIND:group\r\n"), ""},
    {"LabelNamesOnlyItsOwnGroup",
     Card("item1.TEL:0171 930 8893\r\nitem2.TEL:0171 930 8894\r\nitem2.X-ABLabel:Radio\r\n"),
     "Other: 0171 930 8893\nRadio: 0171 930 8894\n"},
    {"LaterHomeAndWorkNumbersInSecondFields",
     Card("TEL;TYPE=HOME:1\r\nTEL;TYPE=WORK:2\r\nTEL;TYPE=HOME:3\r\nTEL;TYPE=WORK:4\r\n"
          "TEL;TYPE=HOME:5\r\nitem1.TEL:6\r\nitem1.X-ABLabel:_$!<Home>!$_\r\n"),
     "Business: 2\nBusiness 2: 4\nHome: 1\nHome 2: 3\nHome 2: 5\nHome 2: 6\n"},
    {"FirstFnNamesTheCard", Card("FN:Second\r\n"), ""},
    {"EvolutionFilingNameWhereverItStands", Card("X-EVOLUTION-FILE-AS:Hughes\\, Bethan\r\n"), "",
     "Hughes, Bethan"},
    {"NoFilingNameWithoutFnOrFileAs",
     "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Hughes;Bethan\r\nEND:VCARD\r\n", "", ""},
    {"Latin1FilingName", Card("X-EVOLUTION-FILE-AS;CHARSET=ISO-8859-1:Fran\xe7ois \x80\r\n"), "",
     "Fran\u00e7ois \u0080"},
    {"Windows1252FilingName", Card("X-EVOLUTION-FILE-AS;CHARSET=windows-1252:Fran\xe7ois \x80\r\n"),
     "", "Fran\u00e7ois \u20ac"},
    {"BackslashThatEscapesNothingKept", Card("TEL:0171\\x930\r\n"), "Other: 0171\\x930\n"},
    {"BareQuotedPrintableGoesOnAfterASoftBreak",
     Card("TEL;HOME;QUOTED-PRINTABLE:0171=\r\n930=\r\n 8893\r\n", "2.1"), "Home: 0171930 8893\n",
     "Test Person", V21},
    {"TelUriNumberEndsAtItsParameters",
     Card("TEL;VALUE=uri:tel:+44-20-7946-0010;ext=5;isub=1\r\n", "4.0"),
     "Other: tel:+44-20-7946-0010\n", "Test Person", V40},
    {"Base64BareParameter", Card("TEL;HOME;BASE64:MDE3MSA5MzAgODg5MA==\r\n", "2.1"),
     "Home: 0171 930 8890\n", "Test Person", V21},
    {"Base64WithoutPadding", Card("TEL;ENCODING=b:MDE3MSA5MzAgODg5MA\r\n"),
     "Other: 0171 930 8890\n"},
    {"Base64EscapesNothing", Card("TEL;ENCODING=b:MDE3MVw7MQ==\r\n"), "Other: 0171\\;1\n"},
    {"Base64InItsCharset",
     Card("TEL;CHARSET=ISO-8859-1;ENCODING=BASE64:QvxybyAwMTcxIDkzMCA4ODkz\r\n", "2.1"),
     "Other: B\u00fcro 0171 930 8893\n", "Test Person", V21},
    {"Base64TelUri", Card("TEL;VALUE=uri;ENCODING=b:dGVsOis0NC0yMC03OTQ2LTAwMTA7ZXh0PTU=\r\n"),
     "Other: tel:+44-20-7946-0010\n"},
    // Hex digits in either case; an "=" not followed by two of them stays as written.
    {"QuotedPrintableHexInEitherCase",
     Card("TEL;ENCODING=QUOTED-PRINTABLE:0171=2d930=2D=g1\r\n", "2.1"), "Other: 0171-930-=g1\n",
     "Test Person", V21},
    {"NewLineEscapeInEitherCase", Card("X-EVOLUTION-FILE-AS:Ann\\NSmith\\nJones\r\n"), "",
     "Ann\nSmith\nJones"},
    {"EightBitIsPlainText", Card("TEL;ENCODING=8BIT:0171 930 8890\r\n", "2.1"),
     "Other: 0171 930 8890\n", "Test Person", V21},
};

INSTANTIATE_TEST_SUITE_P(Cards, VCardRead, testing::ValuesIn(kCards), kRowName);

struct LeftRow {
  std::string_view name;
  std::string body;    // lines put before a plain mobile number, the one number changed
  std::string phones;  // as PhonesOf writes them
  std::string left;    // "Field: reason" lines
  std::string_view version = "3.0";
};

class VCardLeftAsIs : public testing::TestWithParam<LeftRow> {};

TEST_P(VCardLeftAsIs, KeepsTheValueOutOfThePhonesAndWritesItBackByteForByte) {
  const LeftRow& row = GetParam();
  const std::string bytes = Card(row.body + "TEL;TYPE=CELL:07700 900123\r\n", row.version);
  const VCard card = MustParse(bytes);
  EXPECT_EQ(PhonesOf(card.Phones()), row.phones);
  std::string left;
  for (const LeftPhone& phone : card.LeftAsIs()) {
    left += std::string(PhoneFieldLabel(phone.field)) + ": " + phone.reason + "\n";
  }
  EXPECT_EQ(left, row.left);
  std::vector<PhoneChange> changes;
  for (std::size_t i = 0; i < card.Phones().size(); ++i) {
    if (card.Phones()[i].number == "07700 900123") changes.push_back({i, "020 7946 0000"});
  }
  ASSERT_EQ(changes.size(), 1u);
  const VCardRewrite rewrite = RewriteVCard(card, changes);
  EXPECT_TRUE(rewrite.rejected.empty());
  EXPECT_EQ(rewrite.bytes, Replaced(bytes, ":07700 900123\r\n", ":020 7946 0000\r\n"));
}

constexpr std::string_view kCannotDecode = "its base64 value cannot be decoded\n";

const LeftRow kLeft[] = {
    {"UnknownEncoding", "TEL;TYPE=HOME;ENCODING=X-FOO:MDE3MSA5MzAgODg5MA==\r\n",
     "Mobile: 07700 900123\n",
     "Home: its value is in the \"X-FOO\" encoding, which is not handled\n"},
    {"UnknownEncodingIn21", "TEL;HOME;ENCODING=UUENCODE:-,#$W,2`Y,S`@.#@Y,```\r\n",
     "Mobile: 07700 900123\n",
     "Home: its value is in the \"UUENCODE\" encoding, which is not handled\n", "2.1"},
    {"TwoEncodings", "TEL;WORK;QUOTED-PRINTABLE;BASE64:MDE3MSA5MzAgODg5MA\r\n",
     "Mobile: 07700 900123\n",
     "Business: its value names two encodings, base64 and quoted-printable\n", "2.1"},
    {"Base64WithAStrayCharacter", "TEL;TYPE=HOME;ENCODING=b:MDE3MSA5M*AgODg5MA==\r\n",
     "Mobile: 07700 900123\n", "Home: " + std::string(kCannotDecode)},
    {"Base64OneCharacterTooLong", "TEL;TYPE=HOME;ENCODING=b:MDE3M\r\n", "Mobile: 07700 900123\n",
     "Home: " + std::string(kCannotDecode)},
    {"Base64DataAfterPadding", "TEL;TYPE=HOME;ENCODING=b:MDE=MSA5\r\n", "Mobile: 07700 900123\n",
     "Home: " + std::string(kCannotDecode)},
    {"Base64TooMuchPadding", "TEL;TYPE=HOME;ENCODING=b:MDE3MQ===\r\n", "Mobile: 07700 900123\n",
     "Home: " + std::string(kCannotDecode)},
    {"Base64WithLeftoverBits", "TEL;TYPE=HOME;ENCODING=b:MDE3MR==\r\n", "Mobile: 07700 900123\n",
     "Home: " + std::string(kCannotDecode)},
    {"Base64UrlAlphabet", "TEL;TYPE=HOME;ENCODING=b:_w==\r\n", "Mobile: 07700 900123\n",
     "Home: " + std::string(kCannotDecode)},
    {"Base64NotUtf8", "TEL;TYPE=HOME;ENCODING=b:/zAxNzE=\r\n", "Mobile: 07700 900123\n",
     "Home: its base64 value does not decode to UTF-8 text\n"},
    {"Base64ControlCharacter", "TEL;TYPE=HOME;ENCODING=b:MDE3MQo5MzA=\r\n",
     "Mobile: 07700 900123\n",
     "Home: its base64 value holds the character U+000A, which no number holds\n"},
    {"Base64UnreadableCharset", "TEL;TYPE=HOME;CHARSET=X-NO-SUCH-SET;ENCODING=b:gqA=\r\n",
     "Mobile: 07700 900123\n",
     "Home: its base64 value is in the character set X-NO-SUCH-SET, which cannot be read\n"},
    {"UnclosedQuoteInParameters", "TEL;TYPE=\"home:0171 930 8893\r\n", "Mobile: 07700 900123\n",
     "Other: its parameters cannot be read\n"},
    {"Latin1WithoutCharset", "TEL;TYPE=HOME:0171 930 8893 B\xfcro\r\n", "Mobile: 07700 900123\n",
     "Home: its value is not UTF-8 text and names no character set\n", "2.1"},
    {"NotTheUtf8ItNames", "TEL;TYPE=HOME;CHARSET=UTF-8:0171 930 8893 B\xfcro\r\n",
     "Mobile: 07700 900123\n", "Home: its value is not UTF-8 text\n"},
    // The value left as it is still holds its place, so the next home number is the second.
    {"HomeLeftAsItIsComesFirst",
     "TEL;TYPE=HOME;ENCODING=X-FOO:abc\r\nTEL;TYPE=HOME:0181 930 8851\r\n",
     "Home 2: 0181 930 8851\nMobile: 07700 900123\n",
     "Home: its value is in the \"X-FOO\" encoding, which is not handled\n"},
};

INSTANTIATE_TEST_SUITE_P(Values, VCardLeftAsIs, testing::ValuesIn(kLeft), kRowName);

struct BadFileRow {
  std::string_view name;
  std::string source;
  std::string_view error;
};

class VCardBadFile : public testing::TestWithParam<BadFileRow> {};

TEST_P(VCardBadFile, IsRejectedWithAReason) {
  const ParsedVCard parsed = ParseVCard(BytesOf(GetParam().source));
  EXPECT_FALSE(parsed.card.has_value());
  EXPECT_EQ(parsed.error, GetParam().error);
}

const BadFileRow kBadFiles[] = {
    {"NoBegin", "bad_no_begin.vcf", "no BEGIN:VCARD line"},
    {"NoEnd", "bad_no_end.vcf", "no END:VCARD line"},
    {"TwoCards", "bad_two_cards.vcf", "the file holds more than one card"},
    {"NulByte", "bad_nul_byte.vcf", "line 3 holds a NUL byte"},
    {"Utf16", "bad_utf16.vcf", "the file is UTF-16 text, not UTF-8"},
    {"CardInsideTheCardWithoutAnAgent", Card("BEGIN:VCARD\r\nFN:Inner\r\nEND:VCARD\r\n"),
     "line 4 begins a card inside the card"},
    {"AgentCardNeverClosed", "BEGIN:VCARD\r\nAGENT:\r\nBEGIN:VCARD\r\nEND:VCARD\r\n",
     "no END:VCARD line"},
    {"SecondCardAfterBlankLines", Card("") + "\r\n \r\nbegin:vcard\r\nend:vcard\r\n",
     "the file holds more than one card"},
    {"WordsBeforeBegin", "exported contacts\r\n" + Card(""), "no BEGIN:VCARD line"},
    {"OnlyBlankLinesAndComments", "\r\n  \r\n# no card here\r\n", "the file holds no card"},
    {"UnknownVersion", "bad_version.vcf", "line 2 names vCard version 5.0, which is not supported"},
    {"UnreadableCharset", Card("TEL;CHARSET=X-NO-SUCH-SET:\x82\xa0\r\n", "2.1"),
     "line 4 uses the character set X-NO-SUCH-SET, which cannot be read"},
    {"UnreadableCharsetInTheFilingName",
     Card("X-EVOLUTION-FILE-AS;CHARSET=X-NO-SUCH-SET:\x82\xa0\r\n", "2.1"),
     "line 4 uses the character set X-NO-SUCH-SET, which cannot be read"},
    {"Binary", "bad_binary.vcf", "no BEGIN:VCARD line"},
    {"Empty", "bad_empty.vcf", "the file holds no card"},
    {"LargerThanFourMebibytes", Card("NOTE:" + std::string(kMaxVCardBytes, 'a') + "\r\n"),
     "the file is larger than 4 MiB"},
};

INSTANTIATE_TEST_SUITE_P(Files, VCardBadFile, testing::ValuesIn(kBadFiles), kRowName);

TEST(VCard, SurvivesEveryTruncationAndByteFlipOfARealCard) {
  const std::string bytes = BytesOf("outlook_21_qp.vcf");
  std::uint32_t seed = 12345;
  const auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  for (std::size_t cut = 0; cut <= bytes.size(); cut += 7) {
    const ParsedVCard parsed = ParseVCard(std::string_view(bytes).substr(0, cut));
    EXPECT_NE(parsed.card.has_value(), !parsed.error.empty());
  }
  for (int round = 0; round < 3000; ++round) {
    std::string mutated = bytes;
    for (int flips = 0; flips < 3; ++flips) {
      mutated[next() % mutated.size()] = static_cast<char>(next() & 0xFF);
    }
    const ParsedVCard parsed = ParseVCard(mutated);
    EXPECT_NE(parsed.card.has_value(), !parsed.error.empty());
    if (!parsed) continue;
    EXPECT_EQ(RewriteVCard(*parsed.card, {}).bytes, mutated);
  }
}

class VCardRoundTrip : public testing::TestWithParam<ReadRow> {};

TEST_P(VCardRoundTrip, RewritesToTheSameBytesWhenNothingChanges) {
  const std::string bytes = BytesOf(GetParam().source);
  const VCard card = MustParse(bytes);
  std::vector<PhoneChange> same;
  for (const PhoneEntry& entry : card.Phones()) same.push_back({same.size(), entry.number});
  EXPECT_EQ(RewriteVCard(card, {}).bytes, bytes);
  const VCardRewrite rewrite = RewriteVCard(card, same);
  EXPECT_EQ(rewrite.bytes, bytes);
  EXPECT_TRUE(rewrite.rejected.empty());
}

TEST_P(VCardRoundTrip, ChangesOnlyTheOnePropertyWhenOneNumberChanges) {
  const std::string bytes = BytesOf(GetParam().source);
  const VCard card = MustParse(bytes);
  for (std::size_t i = 0; i < card.Phones().size(); ++i) {
    SCOPED_TRACE("phone entry " + std::to_string(i));
    const std::string tail_digits = std::to_string(100 + i);
    const std::vector<PhoneChange> changes{{i, "+44 20 7946 0" + tail_digits}};
    const VCardRewrite rewrite = RewriteVCard(card, changes);
    std::vector<PhoneEntry> expected = card.Phones();
    expected[i].number = (expected[i].is_tel_uri ? "+44-20-7946-0" : "+44 20 7946 0") + tail_digits;
    EXPECT_EQ(PhonesOf(MustParse(rewrite.bytes).Phones()), PhonesOf(expected));
    // The bytes that differ start inside a TEL property and span at most one of its line ends.
    const std::string& out = rewrite.bytes;
    const std::size_t head =
        std::mismatch(bytes.begin(), bytes.end(), out.begin(), out.end()).first - bytes.begin();
    const std::size_t tail =
        std::mismatch(bytes.rbegin(), bytes.rend() - head, out.rbegin(), out.rend() - head).first -
        bytes.rbegin();
    const std::size_t line_start = head == 0 ? 0 : bytes.rfind('\n', head - 1) + 1;
    std::string changed_line = bytes.substr(line_start, 80);
    for (char& c : changed_line) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_LT(changed_line.find("TEL"), changed_line.find(':'))
        << "the first changed byte is not in a TEL property: " << changed_line.substr(0, 40);
    const std::string_view old_part =
        std::string_view(bytes).substr(head, bytes.size() - tail - head);
    EXPECT_LE(std::count(old_part.begin(), old_part.end(), '\n'), 1) << "more than one property";
  }
}

INSTANTIATE_TEST_SUITE_P(Producers, VCardRoundTrip, testing::ValuesIn(kProducers), kRowName);
INSTANTIATE_TEST_SUITE_P(WildForms, VCardRoundTrip, testing::ValuesIn(kWildForms), kRowName);

// Sets only the C library's iconv converts. Windows has none: there such a set stays unread, as
// one the program does not know.
#ifndef _WIN32
const ReadRow kConvertedReads[] = {
    {"ShiftJis", "shift_jis_21.vcf",
     "Home: \uff10\uff13\u3000\uff11\uff12\uff13\uff14\u3000\uff15\uff16\uff17\uff18\n"
     "Mobile: 090-1234-5678\n",
     "\u5c71\u7530\u592a\u90ce", V21},
    {"Iso2022Jp", "iso2022jp_30.vcf", "Business: 03-1234-5678\n", "\u9234\u6728\u82b1\u5b50"},
    {"Windows1250QuotedPrintable", "windows1250_qp_21.vcf", "Business: 022 123 45 67\n",
     "\u0141ukasz Wi\u015bniewski", V21},
};

INSTANTIATE_TEST_SUITE_P(Charsets, VCardRead, testing::ValuesIn(kConvertedReads), kRowName);
INSTANTIATE_TEST_SUITE_P(Charsets, VCardRoundTrip, testing::ValuesIn(kConvertedReads), kRowName);
#endif

}  // namespace
}  // namespace dialmend
