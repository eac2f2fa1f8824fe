#include "contacts/vcard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/phone_field.h"

namespace dialmend {
namespace {

std::string ReadFixture(std::string_view name) {
  const std::string path = std::string(DIALMEND_VCARD_DATA_DIR) + "/" + std::string(name);
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "missing fixture " << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A phone entry in a form that compares and prints well.
struct Phone {
  PhoneField field;
  std::string number;
  bool uri = false;

  friend bool operator==(const Phone&, const Phone&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Phone& phone) {
    return out << "{" << PhoneFieldLabel(phone.field) << ", \"" << phone.number << "\""
               << (phone.uri ? ", uri" : "") << "}";
  }
};

std::vector<Phone> PhonesOf(const VCard& card) {
  std::vector<Phone> phones;
  for (const PhoneEntry& entry : card.Phones()) {
    phones.push_back({entry.field, entry.number, entry.is_tel_uri});
  }
  return phones;
}

VCard MustParse(std::string_view bytes) {
  ParsedVCard parsed = ParseVCard(bytes);
  if (!parsed) {
    ADD_FAILURE() << "did not parse: " << parsed.error;
    return ParseVCard("BEGIN:VCARD\r\nEND:VCARD\r\n").card.value();
  }
  return std::move(*parsed.card);
}

// A 3.0 card with CRLF line ends around the given lines.
std::string Card(std::string_view body, std::string_view version = "3.0") {
  return "BEGIN:VCARD\r\nVERSION:" + std::string(version) + "\r\nFN:Test Person\r\n" +
         std::string(body) + "END:VCARD\r\n";
}

std::string Replaced(std::string text, std::string_view from, std::string_view to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << "no \"" << from << "\" in the text";
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::vector<std::string_view> PhysicalLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return lines;
}

bool IsWellFormedUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// ---- Real producers' cards ----

struct FixtureRow {
  std::string_view name;
  std::string_view file;
  VCardVersion version;
  CardKind kind;
  std::string_view file_as;
  std::vector<Phone> phones;
};

std::ostream& operator<<(std::ostream& out, const FixtureRow& row) {
  return out << row.file;
}

class VCardFixture : public testing::TestWithParam<FixtureRow> {};

TEST_P(VCardFixture, ReadsKindFilingNameAndPhonesInFieldOrder) {
  const FixtureRow& row = GetParam();
  const VCard card = MustParse(ReadFixture(row.file));
  EXPECT_EQ(card.Version(), row.version);
  EXPECT_EQ(card.Kind(), row.kind);
  EXPECT_EQ(card.FileAs(), row.file_as);
  EXPECT_THAT(PhonesOf(card), testing::ElementsAreArray(row.phones));
}

TEST_P(VCardFixture, RewritesToTheSameBytesWhenNothingChanges) {
  const std::string bytes = ReadFixture(GetParam().file);
  const VCard card = MustParse(bytes);
  std::vector<PhoneChange> same;
  for (std::size_t i = 0; i < card.Phones().size(); ++i) {
    same.push_back({i, card.Phones()[i].number});
  }
  EXPECT_EQ(RewriteVCard(card, {}).bytes, bytes);
  const VCardRewrite rewrite = RewriteVCard(card, same);
  EXPECT_EQ(rewrite.bytes, bytes);
  EXPECT_TRUE(rewrite.rejected.empty());
}

TEST_P(VCardFixture, ChangesOnlyTheOnePropertyWhenOneNumberChanges) {
  const std::string bytes = ReadFixture(GetParam().file);
  const VCard card = MustParse(bytes);
  for (std::size_t i = 0; i < card.Phones().size(); ++i) {
    SCOPED_TRACE("phone entry " + std::to_string(i));
    const std::string number = "+44 20 7946 0" + std::to_string(100 + i);
    const std::vector<PhoneChange> changes{{i, number}};
    const VCardRewrite rewrite = RewriteVCard(card, changes);
    ASSERT_TRUE(rewrite.rejected.empty()) << rewrite.rejected[0].reason;
    const VCard again = MustParse(rewrite.bytes);
    std::vector<Phone> expected = PhonesOf(card);
    expected[i].number =
        card.Phones()[i].is_tel_uri ? "+44-20-7946-0" + std::to_string(100 + i) : number;
    EXPECT_EQ(PhonesOf(again), expected);
    EXPECT_EQ(again.FileAs(), card.FileAs());

    // Everything before the changed property's first line and after its last line is untouched.
    const std::string& out = rewrite.bytes;
    std::size_t head = 0;
    while (head < bytes.size() && head < out.size() && bytes[head] == out[head]) ++head;
    std::size_t tail = 0;
    while (tail < bytes.size() - head && tail < out.size() - head &&
           bytes[bytes.size() - 1 - tail] == out[out.size() - 1 - tail]) {
      ++tail;
    }
    const std::size_t line_start = bytes.rfind('\n', head == 0 ? 0 : head - 1);
    const std::string_view changed_line =
        std::string_view(bytes).substr(line_start == std::string::npos ? 0 : line_start + 1);
    EXPECT_TRUE(changed_line.find("TEL") < changed_line.find(':'))
        << "the first changed byte is not in a TEL property: " << changed_line.substr(0, 40);
    const std::string_view old_part =
        std::string_view(bytes).substr(head, bytes.size() - tail - head);
    const std::size_t newlines = std::count(old_part.begin(), old_part.end(), '\n');
    EXPECT_LE(newlines, 1u) << "more than the changed property differs";
  }
}

const FixtureRow kFixtures[] = {
    {"Apple",
     "apple_contacts.vcf",
     VCardVersion::V30,
     CardKind::Contact,
     "Chidi Okafor",
     {{PhoneField::Assistant, "01632 960002"},
      {PhoneField::Business, "0181 496 0000"},
      {PhoneField::BusinessFax, "0171 946 0002"},
      {PhoneField::Home, "0171 930 8890"},
      {PhoneField::HomeFax, "0171 946 0001"},
      {PhoneField::Mobile, "07700 900123"},
      {PhoneField::Mobile, "07700 900124"},
      {PhoneField::Other, "01632 960001"},
      {PhoneField::Pager, "07623 900004"},
      {PhoneField::Primary, "020 7946 0003"},
      {PhoneField::Radio, "0113 496 0005"}}},
    {"Google",
     "google_export.vcf",
     VCardVersion::V30,
     CardKind::Contact,
     "Priya Natarajan",
     {{PhoneField::Business, "0171-930-8892"},
      {PhoneField::Business2, "0171 930 8893"},
      {PhoneField::Home, "(0171) 930 8891"},
      {PhoneField::Mobile, "+44 7700 900456"},
      {PhoneField::Other, "0800 123 4567"}}},
    {"EvolutionAllFields",
     "evolution_all_fields.vcf",
     VCardVersion::V30,
     CardKind::Contact,
     "Hughes, Bethan",
     {{PhoneField::Assistant, "0171 930 0001"},
      {PhoneField::Business, "0171 930 0002"},
      {PhoneField::Business2, "0171 930 0003"},
      {PhoneField::BusinessFax, "0171 930 0004"},
      {PhoneField::Callback, "0171 930 0005"},
      {PhoneField::Car, "0171 930 0006"},
      {PhoneField::CompanyMain, "0171 930 0007"},
      {PhoneField::Home, "0181 930 0008"},
      {PhoneField::Home2, "0181 930 0009"},
      {PhoneField::HomeFax, "0181 930 0010"},
      {PhoneField::Isdn, "0181 930 0011"},
      {PhoneField::Mobile, "07700 900012"},
      {PhoneField::Other, "0181 930 0013"},
      {PhoneField::OtherFax, "0181 930 0014"},
      {PhoneField::Pager, "07623 900015"},
      {PhoneField::Primary, "0171 930 0016"},
      {PhoneField::Radio, "0171 930 0017"},
      {PhoneField::Telex, "0171 930 0018"},
      {PhoneField::TtyTdd, "0171 930 0019"}}},
    {"Outlook21QuotedPrintable",
     "outlook_21_qp.vcf",
     VCardVersion::V21,
     CardKind::Contact,
     "J\u00fcrgen M\u00fcller \u20ac",
     {{PhoneField::Assistant, "0171 930 8896"},
      {PhoneField::Business, "0171 930 8893"},
      {PhoneField::BusinessFax, "0171 930 8895"},
      {PhoneField::Callback, "0171 930 8897"},
      {PhoneField::Car, "07700 900791"},
      {PhoneField::CompanyMain, "0171 930 8898"},
      {PhoneField::Home, "0181 930 8894"},
      {PhoneField::Home2, "0181 930 8801"},
      {PhoneField::HomeFax, "0181 930 8802"},
      {PhoneField::Isdn, "0171 930 8803"},
      {PhoneField::Mobile, "07700 900789"},
      {PhoneField::Pager, "07623 900790"},
      {PhoneField::Primary, "0171 930 8804"},
      {PhoneField::Radio, "0171 930 8899"},
      {PhoneField::Telex, "0171 930 8805"},
      {PhoneField::TtyTdd, "0171 930 8800"}}},
    {"Nextcloud30",
     "nextcloud_30.vcf",
     VCardVersion::V30,
     CardKind::Contact,
     "Tom\u00e1s O'Neill",
     {{PhoneField::Business, "0171 930 8842"},
      {PhoneField::BusinessFax, "0171 930 8843"},
      {PhoneField::Car, "07700 900845"},
      {PhoneField::Home, "0171 930 8840"},
      {PhoneField::HomeFax, "0181 930 8844"},
      {PhoneField::Mobile, "07700 900841"}}},
    {"Version4TelUris",
     "v4_tel_uri.vcf",
     VCardVersion::V40,
     CardKind::Contact,
     "Siobh\u00e1n N\u00ed Bhriain",
     {{PhoneField::Business, "+44-171-930-8820", true},
      {PhoneField::BusinessFax, "+44-171-930-8821", true},
      {PhoneField::Home, "+44-20-7946-0010", true},
      {PhoneField::Mobile, "07700-900-321", true},
      {PhoneField::Primary, "+44-171-930-8823", true},
      {PhoneField::TtyTdd, "+44-18001-0171-930-8822", true}}},
    {"Thunderbird",
     "thunderbird_40.vcf",
     VCardVersion::V40,
     CardKind::Contact,
     "Astrid Lindqvist",
     {{PhoneField::Business, "0171 930 8830"},
      {PhoneField::Home, "0181 930 8831"},
      {PhoneField::Mobile, "07700 900654"},
      {PhoneField::Other, "+46 8 123 456 78"},
      {PhoneField::OtherFax, "0171 930 8832"},
      {PhoneField::Pager, "07623 900655"}}},
    {"ByteOrderMarkLineFeedsAndFolds",
     "bom_lf_folded.vcf",
     VCardVersion::V30,
     CardKind::Contact,
     "Marguerite Delacroix-Beaumont de la Tour d'Auvergne et de Saint-Germain-des-Pr\u00e9s",
     {{PhoneField::Business, "0171 930 8850"}, {PhoneField::Home, "0181 930 8851"}}},
    {"MixedLineEnds",
     "mixed_line_ends.vcf",
     VCardVersion::V30,
     CardKind::Contact,
     "Ann Mixed",
     {{PhoneField::Home, "0181 930 8860"}, {PhoneField::Mobile, "07700 900861"}}},
    {"EvolutionList",
     "evolution_list.vcf",
     VCardVersion::V30,
     CardKind::Group,
     "Surgery staff",
     {}},
    {"AppleGroup", "apple_group.vcf", VCardVersion::V30, CardKind::Group, "Dentists", {}},
    {"Version4Group", "kind_group_v4.vcf", VCardVersion::V40, CardKind::Group, "Book club", {}},
};

INSTANTIATE_TEST_SUITE_P(Producers, VCardFixture, testing::ValuesIn(kFixtures),
                         [](const testing::TestParamInfo<FixtureRow>& info) {
                           return std::string(info.param.name);
                         });

// ---- Files that are not one readable card ----

struct BadFileRow {
  std::string_view name;
  std::string_view file;
  std::string_view error;
};

std::ostream& operator<<(std::ostream& out, const BadFileRow& row) {
  return out << row.file;
}

class VCardBadFile : public testing::TestWithParam<BadFileRow> {};

TEST_P(VCardBadFile, IsRejectedWithAReason) {
  const ParsedVCard parsed = ParseVCard(ReadFixture(GetParam().file));
  EXPECT_FALSE(parsed.card.has_value());
  EXPECT_EQ(parsed.error, GetParam().error);
}

const BadFileRow kBadFiles[] = {
    {"NoBegin", "bad_no_begin.vcf", "no BEGIN:VCARD line"},
    {"NoEnd", "bad_no_end.vcf", "no END:VCARD line"},
    {"TwoCards", "bad_two_cards.vcf", "the file holds more than one card"},
    {"UnfoldedNoteLine", "bad_not_a_property.vcf", "line 5 is not a property"},
    {"Latin1WithoutCharset", "bad_latin1_without_charset.vcf", "line 3 is not UTF-8 text"},
    {"NulByte", "bad_nul_byte.vcf", "line 3 holds a NUL byte"},
    {"Utf16", "bad_utf16.vcf", "the file is UTF-16 text, not UTF-8"},
    {"NestedAgentCard", "bad_nested_agent.vcf", "line 5 begins a card inside the card"},
    {"TextAfterEnd", "bad_text_after_end.vcf", "line 5 follows END:VCARD"},
    {"UnknownVersion", "bad_version.vcf", "line 2 names vCard version 5.0, which is not supported"},
    {"UnreadableCharset", "bad_unknown_charset.vcf",
     "line 4 uses the character set SHIFT_JIS, which cannot be read"},
    {"Binary", "bad_binary.vcf", "no BEGIN:VCARD line"},
    {"Empty", "bad_empty.vcf", "the file holds no card"},
};

INSTANTIATE_TEST_SUITE_P(Files, VCardBadFile, testing::ValuesIn(kBadFiles),
                         [](const testing::TestParamInfo<BadFileRow>& info) {
                           return std::string(info.param.name);
                         });

TEST(VCard, RejectsAFileLargerThanFourMebibytes) {
  std::string bytes = Card("NOTE:" + std::string(kMaxVCardBytes, 'a') + "\r\n");
  EXPECT_EQ(ParseVCard(bytes).error, "the file is larger than 4 MiB");
}

TEST(VCard, ReadsAHugeLineJustUnderTheLimit) {
  const std::string bytes =
      Card("NOTE:" + std::string(kMaxVCardBytes - 200, 'a') + "\r\nTEL:0171 930 8893\r\n");
  const VCard card = MustParse(bytes);
  EXPECT_THAT(PhonesOf(card), testing::ElementsAre(Phone{PhoneField::Other, "0171 930 8893"}));
}

TEST(VCard, ReadsAValueFoldedOnEveryCharacter) {
  std::string body = "NOTE:a";
  for (int i = 0; i < 500'000; ++i) body += "\r\n b";
  body += "\r\nTEL;TYPE=CELL:07700\r\n  900\r\n\t123\r\n";
  const VCard card = MustParse(Card(body));
  EXPECT_THAT(PhonesOf(card), testing::ElementsAre(Phone{PhoneField::Mobile, "07700 900123"}));
}

std::string LabelledItems(int count) {
  std::string body;
  for (int i = 0; i < count; ++i) {
    const std::string group = "item" + std::to_string(i);
    body += group + ".TEL:0171 930 " + std::to_string(1000 + i % 9000) + "\r\n";
    body += group + ".X-ABLabel:" + (i % 2 == 0 ? "Radio" : "_$!<Other>!$_") + "\r\n";
  }
  return Card(body);
}

TEST(VCard, MatchesEveryGroupedNumberToItsOwnLabel) {
  const VCard card = MustParse(LabelledItems(16'000));
  ASSERT_EQ(card.Phones().size(), 16'000u);
  const auto radios =
      std::count_if(card.Phones().begin(), card.Phones().end(),
                    [](const PhoneEntry& p) { return p.field == PhoneField::Radio; });
  EXPECT_EQ(radios, 8'000);
  EXPECT_EQ(card.Phones().front().field, PhoneField::Other);
  EXPECT_EQ(card.Phones().back().field, PhoneField::Radio);
}

TEST(VCard, ReadsParametersFoldedBeforeTheColon) {
  const std::string bytes =
      Card("TEL;ENCODING=QUOTED-PRINTABLE;TY\r\n PE=HOME:0171=20930=\r\n 8893\r\n", "2.1");
  const VCard card = MustParse(bytes);
  EXPECT_THAT(PhonesOf(card), testing::ElementsAre(Phone{PhoneField::Home, "0171 930 8893"}));
  const std::vector<PhoneChange> changes{{0, "020 7930 8893"}};
  EXPECT_EQ(RewriteVCard(card, changes).bytes,
            Replaced(bytes, "0171=20930=\r\n 8893", "020 7930 8893"));
}

TEST(VCard, RejectsAnUnclosedQuoteInParameters) {
  EXPECT_EQ(ParseVCard(Card("TEL;TYPE=\"home:0171 930 8893\r\n")).error,
            "line 4 is not a property");
}

TEST(VCard, RejectsANameWithSpaces) {
  EXPECT_EQ(ParseVCard(Card("Phone number:0171 930 8893\r\n")).error, "line 4 is not a property");
}

TEST(VCard, SkipsBlankLines) {
  const VCard card = MustParse(Card("\r\nTEL:0171 930 8893\r\n\r\n"));
  EXPECT_EQ(card.Phones().size(), 1u);
}

TEST(VCard, ReadsACardWithoutVersionAsVersion3) {
  const VCard card = MustParse("BEGIN:VCARD\r\nFN:Old\r\nTEL:0171 930 8893\r\nEND:VCARD\r\n");
  EXPECT_EQ(card.Version(), VCardVersion::V30);
}

TEST(VCard, ReadsNamesAndValuesWhateverTheirCase) {
  const VCard card = MustParse(
      "begin:vcard\r\nversion:2.1\r\nItem3.tel;Type=Cell:07700 900123\r\n"
      "fn:Lower Case\r\nend:vcard\r\n");
  EXPECT_EQ(card.Version(), VCardVersion::V21);
  EXPECT_EQ(card.FileAs(), "Lower Case");
  EXPECT_THAT(PhonesOf(card), testing::ElementsAre(Phone{PhoneField::Mobile, "07700 900123"}));
}

TEST(VCard, SurvivesEveryTruncationAndByteFlipOfARealCard) {
  const std::string bytes = ReadFixture("outlook_21_qp.vcf");
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
    if (!parsed) {
      EXPECT_FALSE(parsed.error.empty());
      continue;
    }
    EXPECT_EQ(RewriteVCard(*parsed.card, {}).bytes, mutated);
  }
}

// ---- TYPE mapping ----

struct TypeRow {
  std::string_view name;
  std::string_view property;  // the part before the colon
  PhoneField field;
};

std::ostream& operator<<(std::ostream& out, const TypeRow& row) {
  return out << row.property;
}

class VCardTelType : public testing::TestWithParam<TypeRow> {};

TEST_P(VCardTelType, MapsToItsField) {
  const VCard card = MustParse(Card(std::string(GetParam().property) + ":0171 930 8893\r\n"));
  ASSERT_EQ(card.Phones().size(), 1u);
  EXPECT_EQ(card.Phones()[0].field, GetParam().field)
      << "got " << PhoneFieldLabel(card.Phones()[0].field);
  EXPECT_EQ(card.Phones()[0].number, "0171 930 8893");
}

const TypeRow kTypes[] = {
    {"HomeFaxList", "TEL;TYPE=HOME,FAX", PhoneField::HomeFax},
    {"HomeFaxRepeated", "TEL;TYPE=home;TYPE=fax", PhoneField::HomeFax},
    {"HomeFaxQuoted", "TEL;TYPE=\"home,fax\"", PhoneField::HomeFax},
    {"HomeFaxEachQuoted", "TEL;TYPE=\"home\",\"fax\"", PhoneField::HomeFax},
    {"HomeFaxBare", "TEL;HOME;FAX", PhoneField::HomeFax},
    {"HomeFaxMixedCase", "TEL;type=Home;TYPE=Fax", PhoneField::HomeFax},
    {"WorkFax", "TEL;TYPE=WORK,FAX", PhoneField::BusinessFax},
    {"WorkFaxBare", "TEL;WORK;FAX", PhoneField::BusinessFax},
    {"FaxAlone", "TEL;TYPE=FAX", PhoneField::OtherFax},
    {"FaxVoice", "TEL;TYPE=FAX,VOICE", PhoneField::OtherFax},
    {"Cell", "TEL;TYPE=CELL", PhoneField::Mobile},
    {"CellWork", "TEL;TYPE=CELL,WORK", PhoneField::Mobile},
    {"IPhone", "TEL;type=IPHONE", PhoneField::Mobile},
    {"Pager", "TEL;TYPE=PAGER", PhoneField::Pager},
    {"Car", "TEL;TYPE=CAR", PhoneField::Car},
    {"Isdn", "TEL;ISDN", PhoneField::Isdn},
    {"Textphone", "TEL;TYPE=textphone", PhoneField::TtyTdd},
    {"AndroidTtyTdd", "TEL;TYPE=TTY-TDD", PhoneField::TtyTdd},
    {"EvolutionTtyTdd", "TEL;TYPE=X-EVOLUTION-TTYTDD", PhoneField::TtyTdd},
    {"EvolutionAssistant", "TEL;TYPE=X-EVOLUTION-ASSISTANT", PhoneField::Assistant},
    {"AndroidAssistant", "TEL;TYPE=ASSISTANT", PhoneField::Assistant},
    {"XAssistant", "TEL;TYPE=X-ASSISTANT", PhoneField::Assistant},
    {"EvolutionCallback", "TEL;TYPE=X-EVOLUTION-CALLBACK", PhoneField::Callback},
    {"AndroidCallback", "TEL;CALLBACK", PhoneField::Callback},
    {"EvolutionCompany", "TEL;TYPE=X-EVOLUTION-COMPANY", PhoneField::CompanyMain},
    {"AndroidCompanyMain", "TEL;TYPE=COMPANY-MAIN", PhoneField::CompanyMain},
    {"EvolutionRadio", "TEL;TYPE=X-EVOLUTION-RADIO", PhoneField::Radio},
    {"AndroidRadio", "TEL;RADIO", PhoneField::Radio},
    {"EvolutionTelex", "TEL;TYPE=X-EVOLUTION-TELEX", PhoneField::Telex},
    {"Tlx", "TEL;TLX", PhoneField::Telex},
    {"PrefAlone", "TEL;TYPE=PREF", PhoneField::Primary},
    {"PrefVoice", "TEL;TYPE=PREF,VOICE", PhoneField::Primary},
    {"PrefParameter", "TEL;PREF=1", PhoneField::Primary},
    {"EvolutionPrimary", "TEL;TYPE=X-EVOLUTION-PRIMARY", PhoneField::Primary},
    {"Main", "TEL;TYPE=MAIN", PhoneField::Primary},
    {"WorkPref", "TEL;TYPE=WORK,PREF", PhoneField::Business},
    {"HomePref", "TEL;TYPE=HOME;PREF=1", PhoneField::Home},
    {"Work", "TEL;TYPE=WORK", PhoneField::Business},
    {"Home", "TEL;TYPE=HOME", PhoneField::Home},
    {"Voice", "TEL;TYPE=VOICE", PhoneField::Other},
    {"NoType", "TEL", PhoneField::Other},
    {"OtherType", "TEL;TYPE=OTHER", PhoneField::Other},
    {"OtherPref", "TEL;TYPE=OTHER,PREF", PhoneField::Other},
    {"UnknownType", "TEL;TYPE=X-SATELLITE", PhoneField::Other},
    {"ValueText", "TEL;VALUE=text;TYPE=work", PhoneField::Business},
    {"Grouped", "item1.TEL;type=HOME", PhoneField::Home},
    {"ExchangeAssistant", "X-MS-TEL;VOICE;ASSISTANT", PhoneField::Assistant},
    {"ExchangeCallback", "X-MS-TEL;TYPE=CALLBACK", PhoneField::Callback},
    {"ExchangeCompany", "X-MS-TEL;VOICE;COMPANY", PhoneField::CompanyMain},
    {"ExchangeRadio", "X-MS-TEL;VOICE;RADIO", PhoneField::Radio},
    {"ExchangeTtyTdd", "X-MS-TEL;TTYTDD", PhoneField::TtyTdd},
    {"ExchangeOther", "X-MS-TEL;VOICE", PhoneField::Other},
};

INSTANTIATE_TEST_SUITE_P(Types, VCardTelType, testing::ValuesIn(kTypes),
                         [](const testing::TestParamInfo<TypeRow>& info) {
                           return std::string(info.param.name);
                         });

struct LabelRow {
  std::string_view name;
  std::string_view label;
  PhoneField field;
};

std::ostream& operator<<(std::ostream& out, const LabelRow& row) {
  return out << row.label;
}

class VCardItemLabel : public testing::TestWithParam<LabelRow> {};

TEST_P(VCardItemLabel, NamesTheFieldOfAnUntypedNumber) {
  const VCard card = MustParse(Card("item2.TEL;type=pref:0171 930 8893\r\nitem2.X-ABLabel:" +
                                    std::string(GetParam().label) + "\r\n"));
  ASSERT_EQ(card.Phones().size(), 1u);
  EXPECT_EQ(card.Phones()[0].field, GetParam().field)
      << "got " << PhoneFieldLabel(card.Phones()[0].field);
}

const LabelRow kLabels[] = {
    {"AppleOther", "_$!<Other>!$_", PhoneField::Other},
    {"AppleMain", "_$!<Main>!$_", PhoneField::Primary},
    {"AppleMobile", "_$!<Mobile>!$_", PhoneField::Mobile},
    {"AppleHomeFax", "_$!<HomeFAX>!$_", PhoneField::HomeFax},
    {"AppleWorkFax", "_$!<WorkFAX>!$_", PhoneField::BusinessFax},
    {"AppleOtherFax", "_$!<OtherFAX>!$_", PhoneField::OtherFax},
    {"ApplePager", "_$!<Pager>!$_", PhoneField::Pager},
    {"AppleHome", "_$!<Home>!$_", PhoneField::Home},
    {"AppleWork", "_$!<Work>!$_", PhoneField::Business},
    {"Assistant", "Assistant", PhoneField::Assistant},
    {"Callback", "callback", PhoneField::Callback},
    {"CompanyMain", "Company Main", PhoneField::CompanyMain},
    {"Radio", "Radio", PhoneField::Radio},
    {"Telex", "Telex", PhoneField::Telex},
    {"TtyTdd", "TTY/TDD", PhoneField::TtyTdd},
    {"OurOwnTtyLabel", "TTY/TTDD", PhoneField::TtyTdd},
    {"Car", "Car", PhoneField::Car},
    {"Isdn", "ISDN", PhoneField::Isdn},
    {"UnknownWordsKeepPref", "Google Voice", PhoneField::Primary},
};

INSTANTIATE_TEST_SUITE_P(Labels, VCardItemLabel, testing::ValuesIn(kLabels),
                         [](const testing::TestParamInfo<LabelRow>& info) {
                           return std::string(info.param.name);
                         });

TEST(VCard, KeepsAnExplicitTypeOverAnItemLabel) {
  const VCard card =
      MustParse(Card("item1.TEL;type=CELL:07700 900123\r\nitem1.X-ABLabel:Assistant\r\n"));
  EXPECT_EQ(card.Phones()[0].field, PhoneField::Mobile);
}

TEST(VCard, AppliesAnItemLabelOnlyToItsOwnGroup) {
  const VCard card = MustParse(
      Card("item1.TEL:0171 930 8893\r\nitem2.TEL:0171 930 8894\r\nitem2.X-ABLabel:Radio\r\n"));
  EXPECT_THAT(PhonesOf(card), testing::ElementsAre(Phone{PhoneField::Other, "0171 930 8893"},
                                                   Phone{PhoneField::Radio, "0171 930 8894"}));
}

TEST(VCard, PutsSecondAndLaterHomeAndWorkNumbersInTheirSecondFields) {
  const VCard card =
      MustParse(Card("TEL;TYPE=HOME:1\r\nTEL;TYPE=WORK:2\r\nTEL;TYPE=HOME:3\r\nTEL;TYPE=WORK:4\r\n"
                     "TEL;TYPE=HOME:5\r\nitem1.TEL:6\r\nitem1.X-ABLabel:_$!<Home>!$_\r\n"));
  EXPECT_THAT(
      PhonesOf(card),
      testing::ElementsAre(Phone{PhoneField::Business, "2"}, Phone{PhoneField::Business2, "4"},
                           Phone{PhoneField::Home, "1"}, Phone{PhoneField::Home2, "3"},
                           Phone{PhoneField::Home2, "5"}, Phone{PhoneField::Home2, "6"}));
}

// ---- Kind and filing name ----

struct KindRow {
  std::string_view name;
  std::string_view line;
  CardKind kind;
};

std::ostream& operator<<(std::ostream& out, const KindRow& row) {
  return out << row.line;
}

class VCardKind : public testing::TestWithParam<KindRow> {};

TEST_P(VCardKind, IsReadFromItsProperty) {
  EXPECT_EQ(MustParse(Card(std::string(GetParam().line) + "\r\n")).Kind(), GetParam().kind);
}

const KindRow kKinds[] = {
    {"KindGroup", "KIND:group", CardKind::Group},
    {"KindGroupUpperCase", "KIND:GROUP", CardKind::Group},
    {"KindIndividual", "KIND:individual", CardKind::Contact},
    {"KindOrg", "KIND:org", CardKind::Contact},
    {"AppleGroup", "X-ADDRESSBOOKSERVER-KIND:group", CardKind::Group},
    {"EvolutionList", "X-EVOLUTION-LIST:TRUE", CardKind::Group},
    {"EvolutionNotList", "X-EVOLUTION-LIST:FALSE", CardKind::Contact},
    {"Nothing", "NOTE:KIND:group", CardKind::Contact},
};

INSTANTIATE_TEST_SUITE_P(Kinds, VCardKind, testing::ValuesIn(kKinds),
                         [](const testing::TestParamInfo<KindRow>& info) {
                           return std::string(info.param.name);
                         });

TEST(VCard, PrefersTheEvolutionFilingNameWhereverItStands) {
  const VCard card = MustParse(
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bethan Hughes\r\nFN:Second\r\n"
      "X-EVOLUTION-FILE-AS:Hughes\\, Bethan\r\nEND:VCARD\r\n");
  EXPECT_EQ(card.FileAs(), "Hughes, Bethan");
}

TEST(VCard, HasAnEmptyFilingNameWithoutFnOrFileAs) {
  EXPECT_EQ(MustParse("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Hughes;Bethan\r\nEND:VCARD\r\n").FileAs(),
            "");
}

TEST(VCard, DecodesLatin1AndWindows1252Names) {
  EXPECT_EQ(MustParse(Card("X-EVOLUTION-FILE-AS;CHARSET=ISO-8859-1:Fran\xe7ois \x80\r\n")).FileAs(),
            "Fran\u00e7ois \u0080");
  EXPECT_EQ(
      MustParse(Card("X-EVOLUTION-FILE-AS;CHARSET=windows-1252:Fran\xe7ois \x80\r\n")).FileAs(),
      "Fran\u00e7ois \u20ac");
}

// ---- Reading TEL values ----

TEST(VCard, DecodesTextEscapesInNumbers) {
  const VCard card = MustParse(Card("TEL:0171 930 8893\\, ext\\; 2\\\\3\\nnight\r\n"));
  EXPECT_EQ(card.Phones()[0].number, "0171 930 8893, ext; 2\\3\nnight");
}

TEST(VCard, KeepsABackslashThatEscapesNothing) {
  EXPECT_EQ(MustParse(Card("TEL:0171\\x930\r\n")).Phones()[0].number, "0171\\x930");
}

TEST(VCard, DecodesQuotedPrintableWithItsCharset) {
  const VCard card = MustParse(
      Card("TEL;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:0171=A0930 8893 B=FCro\r\n", "2.1"));
  EXPECT_EQ(card.Phones()[0].number, "0171\u00a0930 8893 B\u00fcro");
}

TEST(VCard, ContinuesABareQuotedPrintableValueAfterASoftLineBreak) {
  const VCard card = MustParse(Card("TEL;HOME;QUOTED-PRINTABLE:0171=\r\n930=\r\n 8893\r\n", "2.1"));
  EXPECT_THAT(PhonesOf(card), testing::ElementsAre(Phone{PhoneField::Home, "0171930 8893"}));
}

TEST(VCard, TakesTheNumberOfATelUriUpToItsParameters) {
  const VCard card = MustParse(Card("TEL;VALUE=uri:tel:+44-20-7946-0010;ext=5;isub=1\r\n", "4.0"));
  EXPECT_THAT(PhonesOf(card),
              testing::ElementsAre(Phone{PhoneField::Other, "+44-20-7946-0010", true}));
}

// ---- Rewriting ----

TEST(VCard, KeepsEveryOtherByteWhenOneTelChanges) {
  const std::string bytes = ReadFixture("apple_contacts.vcf");
  const VCard card = MustParse(bytes);
  const std::vector<PhoneChange> changes{{3, "020 7930 8890"}};
  ASSERT_EQ(card.Phones()[3].number, "0171 930 8890");
  EXPECT_EQ(RewriteVCard(card, changes).bytes,
            Replaced(bytes, "type=VOICE:0171 930 8890\r\n", "type=VOICE:020 7930 8890\r\n"));
}

TEST(VCard, RewritesSeveralNumbersInOnePass) {
  const std::string bytes = ReadFixture("google_export.vcf");
  const VCard card = MustParse(bytes);
  const std::vector<PhoneChange> changes{{4, "0800 123 4568"}, {0, "020 7930 8892"}};
  std::string expected = Replaced(bytes, ":0171-930-8892\r\n", ":020 7930 8892\r\n");
  expected = Replaced(expected, ":0800 123 4567\r\n", ":0800 123 4568\r\n");
  EXPECT_EQ(RewriteVCard(card, changes).bytes, expected);
}

TEST(VCard, RewritesAQuotedPrintableValueThatWasSoftBroken) {
  const std::string bytes = ReadFixture("outlook_21_qp.vcf");
  const VCard card = MustParse(bytes);
  ASSERT_EQ(card.Phones()[7].number, "0181 930 8801");
  const std::vector<PhoneChange> changes{{7, "020 8930 8801"}};
  EXPECT_EQ(RewriteVCard(card, changes).bytes,
            Replaced(bytes, ":0181=20930=\r\n 8801\r\n", ":020 8930 8801\r\n"));
}

TEST(VCard, EncodesAQuotedPrintableValueInItsCharset) {
  const std::string bytes =
      Card("TEL;CHARSET=Windows-1252;ENCODING=QUOTED-PRINTABLE:0171 930 8893\r\n", "2.1");
  const VCard card = MustParse(bytes);
  const std::vector<PhoneChange> changes{{0, "020 7930 8893 B\u00fcro \u20ac=1 "}};
  EXPECT_EQ(RewriteVCard(card, changes).bytes,
            Replaced(bytes, ":0171 930 8893\r\n", ":020 7930 8893 B=FCro =\r\n=80=3D1=20\r\n"));
}

TEST(VCard, RefusesACharacterTheCardsCharsetCannotCarry) {
  const std::string bytes = Card("TEL;CHARSET=ISO-8859-1:0171 930 8893\r\n", "2.1");
  const VCard card = MustParse(bytes);
  const std::vector<PhoneChange> changes{{0, "020 7930 8893 \u2192"}};
  const VCardRewrite rewrite = RewriteVCard(card, changes);
  EXPECT_EQ(rewrite.bytes, bytes);
  ASSERT_EQ(rewrite.rejected.size(), 1u);
  EXPECT_EQ(rewrite.rejected[0].reason, "the card's character set cannot carry \"\u2192\"");
}

TEST(VCard, WritesLatin1BytesForALatin1Value) {
  const std::string bytes = Card("TEL;CHARSET=ISO-8859-1:0171 930 8893\r\n", "2.1");
  const std::vector<PhoneChange> changes{{0, "020 7930 8893 B\u00fcro"}};
  EXPECT_EQ(RewriteVCard(MustParse(bytes), changes).bytes,
            Replaced(bytes, ":0171 930 8893\r\n", ":020 7930 8893 B\xfcro\r\n"));
}

class VCardCharsetRoundTrip : public testing::TestWithParam<std::string_view> {};

// Every byte of the set decodes to a character that encodes back to the same byte.
TEST_P(VCardCharsetRoundTrip, WritesEveryHighByteBackAsItWas) {
  std::string body;
  std::vector<std::string> chunks;
  for (int first = 0x80; first < 0x100; first += 32) {
    std::string chunk;
    for (int byte = first; byte < first + 32; ++byte) chunk += static_cast<char>(byte);
    chunks.push_back(chunk);
    body += "TEL;CHARSET=" + std::string(GetParam()) + ":" + chunk + "\r\n";
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

INSTANTIATE_TEST_SUITE_P(Charsets, VCardCharsetRoundTrip,
                         testing::Values("ISO-8859-1", "windows-1252", "ISO-8859-15"),
                         [](const testing::TestParamInfo<std::string_view>& info) {
                           std::string name;
                           for (const char c : info.param) {
                             if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                           }
                           return name;
                         });

TEST(VCard, WritesOnlyAsciiIntoAValueInACharsetItCannotRead) {
  const std::string bytes = Card("TEL;CHARSET=SHIFT_JIS:0171 930 8893\r\n", "2.1");
  const VCard card = MustParse(bytes);
  const std::vector<PhoneChange> refused{{0, "020 7930 8893 \u00e9"}};
  EXPECT_EQ(RewriteVCard(card, refused).rejected.at(0).reason,
            "the card's character set cannot carry \"\u00e9\"");
  const std::vector<PhoneChange> ascii{{0, "020 7930 8893"}};
  EXPECT_EQ(RewriteVCard(card, ascii).bytes, Replaced(bytes, "0171 930 8893", "020 7930 8893"));
}

struct EscapeRow {
  std::string_view name;
  std::string_view version;
  std::string_view old_value;
  std::string_view new_number;
  std::string_view new_value;
};

std::ostream& operator<<(std::ostream& out, const EscapeRow& row) {
  return out << row.name;
}

class VCardEscape : public testing::TestWithParam<EscapeRow> {};

TEST_P(VCardEscape, EscapesOnlyWhatTheValueNeeds) {
  const EscapeRow& row = GetParam();
  const std::string bytes = Card("TEL:" + std::string(row.old_value) + "\r\n", row.version);
  const VCard card = MustParse(bytes);
  const std::vector<PhoneChange> changes{{0, std::string(row.new_number)}};
  const VCardRewrite rewrite = RewriteVCard(card, changes);
  EXPECT_EQ(rewrite.bytes, Replaced(bytes, "TEL:" + std::string(row.old_value) + "\r\n",
                                    "TEL:" + std::string(row.new_value) + "\r\n"));
  EXPECT_EQ(MustParse(rewrite.bytes).Phones()[0].number, row.new_number);
}

const EscapeRow kEscapes[] = {
    {"PlainCommasStayPlainIn30", "3.0", "0171,,123", "020,,123", "020,,123"},
    {"EscapedCommasStayEscaped", "3.0", "0171\\,123", "020,123", "020\\,123"},
    {"CommasAreEscapedIn40", "4.0", "0171 930", "020,123", "020\\,123"},
    {"CommasStayPlainIn21", "2.1", "0171 930", "020,123", "020,123"},
    {"BackslashIsAlwaysEscaped", "3.0", "0171", "020\\1", "020\\\\1"},
    {"NewLineIsEscaped", "3.0", "0171", "020\nnight", "020\\nnight"},
    {"SemicolonsStayPlain", "3.0", "0171", "020;5", "020;5"},
    {"EscapedSemicolonsStayEscaped", "3.0", "0171\\;1", "020;5", "020\\;5"},
};

INSTANTIATE_TEST_SUITE_P(Values, VCardEscape, testing::ValuesIn(kEscapes),
                         [](const testing::TestParamInfo<EscapeRow>& info) {
                           return std::string(info.param.name);
                         });

struct FoldRow {
  std::string_view name;
  std::string_view version;
  std::string_view property;
  std::string_view eol;
  std::string filler;
  std::size_t count;
};

std::ostream& operator<<(std::ostream& out, const FoldRow& row) {
  return out << row.name;
}

class VCardFold : public testing::TestWithParam<FoldRow> {};

// Shifting a long value by one to three bytes puts every byte of a multi-byte character at the
// fold point in turn.
TEST_P(VCardFold, FoldsALongValueAt75OctetsOnCharacterBoundaries) {
  const FoldRow& row = GetParam();
  for (std::size_t shift = 0; shift < 4; ++shift) {
    SCOPED_TRACE("shift " + std::to_string(shift));
    const std::string eol(row.eol);
    const std::string bytes = "BEGIN:VCARD" + eol + "VERSION:" + std::string(row.version) + eol +
                              std::string(row.property) + ":0171" + eol + "END:VCARD" + eol;
    const VCard card = MustParse(bytes);
    std::string number(shift, '1');
    for (std::size_t i = 0; i < row.count; ++i) number += row.filler;
    const std::vector<PhoneChange> changes{{0, number}};
    const VCardRewrite rewrite = RewriteVCard(card, changes);
    ASSERT_TRUE(rewrite.rejected.empty());
    EXPECT_EQ(MustParse(rewrite.bytes).Phones()[0].number, number);
    const std::vector<std::string_view> lines = PhysicalLines(rewrite.bytes);
    ASSERT_GT(lines.size(), 5u) << "the value was not folded";
    const bool quoted_printable = row.property.find("QUOTED") != std::string_view::npos;
    for (const std::string_view line : lines) {
      EXPECT_LE(line.size(), 75u) << line;
      EXPECT_TRUE(IsWellFormedUtf8(line)) << "a fold splits a character: " << line;
      if (!quoted_printable) continue;
      // Every "=" of the value is a whole =XX triplet, or the soft break at the line's end.
      const std::size_t value_start = line.starts_with("TEL") ? line.find(':') + 1 : 0;
      for (std::size_t at = value_start; at < line.size(); ++at) {
        if (line[at] != '=') continue;
        EXPECT_TRUE(at + 1 == line.size() || at + 2 < line.size()) << line;
      }
    }
    EXPECT_EQ(rewrite.bytes.find("\r\n") != std::string::npos, row.eol == "\r\n");
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

INSTANTIATE_TEST_SUITE_P(Values, VCardFold, testing::ValuesIn(kFolds),
                         [](const testing::TestParamInfo<FoldRow>& info) {
                           return std::string(info.param.name);
                         });

TEST(VCard, ContinuesFoldsWithOneSpace) {
  const std::string bytes = Card("TEL:1\r\n");
  const std::vector<PhoneChange> changes{{0, std::string(100, '2')}};
  EXPECT_EQ(RewriteVCard(MustParse(bytes), changes).bytes,
            Replaced(bytes, "TEL:1\r\n",
                     "TEL:" + std::string(71, '2') + "\r\n " + std::string(29, '2') + "\r\n"));
}

TEST(VCard, KeepsTheByteOrderMarkAndLineFeeds) {
  const std::string bytes = ReadFixture("bom_lf_folded.vcf");
  const VCard card = MustParse(bytes);
  ASSERT_EQ(card.LineEnd(), "\n");
  const std::vector<PhoneChange> changes{{0, "020 7930 8850"}};
  EXPECT_EQ(RewriteVCard(card, changes).bytes,
            Replaced(bytes, ":0171 930\n  8850\n", ":020 7930 8850\n"));
}

TEST(VCard, UsesTheLineEndOfTheBeginLine) {
  EXPECT_EQ(MustParse(ReadFixture("mixed_line_ends.vcf")).LineEnd(), "\r\n");
  EXPECT_EQ(MustParse(ReadFixture("thunderbird_40.vcf")).LineEnd(), "\n");
}

TEST(VCard, KeepsTheLineEndOfARewrittenPropertyAndAFileWithoutAFinalLineEnd) {
  const std::string bytes = ReadFixture("mixed_line_ends.vcf");
  const VCard card = MustParse(bytes);
  const std::vector<PhoneChange> changes{{0, "020 8930 8860"}, {1, "07700 900862"}};
  std::string expected = Replaced(bytes, ":0181 930 8860\n", ":020 8930 8860\n");
  expected = Replaced(expected, ":07700 900861\r\nEND:VCARD", ":07700 900862\r\nEND:VCARD");
  EXPECT_EQ(RewriteVCard(card, changes).bytes, expected);
}

TEST(VCard, ConvertsATelUriAndKeepsItsParameters) {
  const std::string bytes = ReadFixture("v4_tel_uri.vcf");
  const VCard card = MustParse(bytes);
  ASSERT_EQ(card.Phones()[0].number, "+44-171-930-8820");
  ASSERT_EQ(card.Phones()[4].number, "+44-171-930-8823");
  const std::vector<PhoneChange> changes{{0, "+44 (0) 20 7930  8820"}, {4, "+44 20 7930 8823"}};
  std::string expected =
      Replaced(bytes, ":tel:+44-171-930-8820;ext=123\r\n", ":tel:+44-0-20-7930-8820;ext=123\r\n");
  expected = Replaced(expected, ":TEL:+44-171-930-8823\r\n", ":TEL:+44-20-7930-8823\r\n");
  const VCardRewrite rewrite = RewriteVCard(card, changes);
  EXPECT_TRUE(rewrite.rejected.empty());
  EXPECT_EQ(rewrite.bytes, expected);
}

TEST(VCard, LeavesATelUriAloneWhenTheNewNumberCannotBeCarried) {
  const std::string bytes = ReadFixture("v4_tel_uri.vcf");
  const VCard card = MustParse(bytes);
  const std::vector<PhoneChange> changes{{0, "+44 20 7930 8820 ext 5"}, {1, "+44 20 7930 8821"}};
  const VCardRewrite rewrite = RewriteVCard(card, changes);
  EXPECT_EQ(rewrite.bytes,
            Replaced(bytes, ":tel:+44-171-930-8821\r\n", ":tel:+44-20-7930-8821\r\n"));
  ASSERT_EQ(rewrite.rejected.size(), 1u);
  EXPECT_EQ(rewrite.rejected[0].index, 0u);
  EXPECT_EQ(rewrite.rejected[0].reason, "a tel: URI cannot carry \"e\"");
}

TEST(VCard, KeepsAnEscapedUriParameterSeparator) {
  const std::string bytes = Card("TEL;VALUE=uri:tel:+44-20-7946-0010\\;ext=5\r\n");
  const VCard card = MustParse(bytes);
  EXPECT_EQ(card.Phones()[0].number, "+44-20-7946-0010");
  const std::vector<PhoneChange> changes{{0, "+44 20 7946 0011"}};
  EXPECT_EQ(RewriteVCard(card, changes).bytes,
            Replaced(bytes, "tel:+44-20-7946-0010\\;", "tel:+44-20-7946-0011\\;"));
}

TEST(VCard, NeverFoldsRightAfterALoneCarriageReturnInAUri) {
  // The carriage return lands on the 75th octet of the rewritten line.
  const std::string bytes =
      Card("TEL;VALUE=uri:tel:+44-20-7946-0010;x=" + std::string(37, 'a') + "\rZ\r\n");
  const VCard card = MustParse(bytes);
  const std::vector<PhoneChange> changes{{0, "+44 20 7946 0011"}};
  const VCardRewrite rewrite = RewriteVCard(card, changes);
  EXPECT_EQ(rewrite.bytes, Replaced(bytes, "0010;", "0011;"));
  const std::vector<PhoneChange> back{{0, "+44 20 7946 0010"}};
  EXPECT_EQ(RewriteVCard(MustParse(rewrite.bytes), back).bytes, bytes);
}

TEST(VCard, ReportsAChangeForAnEntryItDoesNotHave) {
  const std::string bytes = Card("TEL:0171 930 8893\r\n");
  const std::vector<PhoneChange> changes{{1, "020 7930 8893"}};
  const VCardRewrite rewrite = RewriteVCard(MustParse(bytes), changes);
  EXPECT_EQ(rewrite.bytes, bytes);
  ASSERT_EQ(rewrite.rejected.size(), 1u);
  EXPECT_EQ(rewrite.rejected[0].reason, "the card has no phone entry 1");
}

TEST(VCard, TakesTheLastOfTwoChangesToOneEntry) {
  const std::string bytes = Card("TEL:0171 930 8893\r\n");
  const std::vector<PhoneChange> changes{{0, "1"}, {0, "2"}};
  EXPECT_EQ(RewriteVCard(MustParse(bytes), changes).bytes,
            Replaced(bytes, "TEL:0171 930 8893", "TEL:2"));
}

struct RefusedRow {
  std::string_view name;
  std::string_view property;
  std::string new_number;
  std::string_view reason;
};

std::ostream& operator<<(std::ostream& out, const RefusedRow& row) {
  return out << row.name;
}

class VCardRefusedChange : public testing::TestWithParam<RefusedRow> {};

TEST_P(VCardRefusedChange, LeavesTheCardAsItWasAndSaysWhy) {
  const std::string bytes = Card(std::string(GetParam().property) + "\r\n");
  const std::vector<PhoneChange> changes{{0, GetParam().new_number}};
  const VCardRewrite rewrite = RewriteVCard(MustParse(bytes), changes);
  EXPECT_EQ(rewrite.bytes, bytes);
  ASSERT_EQ(rewrite.rejected.size(), 1u);
  EXPECT_EQ(rewrite.rejected[0].reason, GetParam().reason);
}

const RefusedRow kRefused[] = {
    {"NotUtf8", "TEL:0171", "020\xff", "the new number is not UTF-8 text"},
    {"LooksLikeAUri", "TEL:0171", "tel:+44", "the new number would read as a tel: URI"},
    {"Nul", "TEL:0171", std::string("020\0", 4), "the new number holds a NUL character"},
    {"CarriageReturn", "TEL:0171", "020\r\n1",
     "the new number holds a carriage return, which the card cannot carry"},
    {"UriSpaceLikeCharacter", "TEL:tel:+44-20", "+44\u00a020",
     "a tel: URI cannot carry the character U+00A0"},
};

INSTANTIATE_TEST_SUITE_P(Changes, VCardRefusedChange, testing::ValuesIn(kRefused),
                         [](const testing::TestParamInfo<RefusedRow>& info) {
                           return std::string(info.param.name);
                         });

TEST(VCard, CarriesALineBreakInAQuotedPrintableValue) {
  const std::string bytes = Card("TEL;ENCODING=QUOTED-PRINTABLE:0171\r\n", "2.1");
  const std::vector<PhoneChange> changes{{0, "020\r\n1"}};
  const VCardRewrite rewrite = RewriteVCard(MustParse(bytes), changes);
  EXPECT_EQ(rewrite.bytes, Replaced(bytes, ":0171\r\n", ":020=0D=0A1\r\n"));
  EXPECT_EQ(MustParse(rewrite.bytes).Phones()[0].number, "020\r\n1");
}

// ---- tel: URI numbers ----

struct TelUriRow {
  std::string_view name;
  std::string number;
  std::optional<std::string> uri_number;
  std::string_view error;
};

std::ostream& operator<<(std::ostream& out, const TelUriRow& row) {
  return out << row.number;
}

class TelUri : public testing::TestWithParam<TelUriRow> {};

TEST_P(TelUri, CarriesTheNumberOrSaysWhyNot) {
  const TelUriNumber result = TelUriFromNumber(GetParam().number);
  EXPECT_EQ(result.number, GetParam().uri_number);
  EXPECT_EQ(result.error, GetParam().error);
}

const TelUriRow kTelUris[] = {
    {"GlobalWithSpaces", "+44 20 7946 0000", "+44-20-7946-0000", ""},
    {"BracketsDropped", "(020) 7946 0000", "020-7946-0000", ""},
    {"ZeroInBrackets", "+44 (0)20 7946 0000", "+44-020-7946-0000", ""},
    {"RunOfSpaces", "+44  20   7946", "+44-20-7946", ""},
    {"SeparatorsKept", "020.7946-0000", "020.7946-0000", ""},
    {"AlreadyAUriNumber", "+44-20-7946-0000", "+44-20-7946-0000", ""},
    {"StarAndHash", "*31#0171", "*31#0171", ""},
    {"LocalHexDigits", "0800 CAFE", "0800-CAFE", ""},
    {"Letter", "0800 FLOWERS", std::nullopt, "a tel: URI cannot carry \"L\""},
    {"HexAfterPlus", "+44 20 ABC", std::nullopt, "a tel: URI cannot carry \"A\""},
    {"Extension", "+44 20 7946 0000 x5", std::nullopt, "a tel: URI cannot carry \"x\""},
    {"Slash", "020/7946", std::nullopt, "a tel: URI cannot carry \"/\""},
    {"Tab", "020\t7946", std::nullopt, "a tel: URI cannot carry the character U+0009"},
    {"WideDigit", "020 \uff17946", std::nullopt, "a tel: URI cannot carry \"\uff17\""},
    {"SecondPlus", "+44+20", std::nullopt, "a tel: URI cannot carry \"+\""},
    {"Empty", "", std::nullopt, "a tel: URI cannot carry an empty number"},
    {"OnlyBrackets", "()", std::nullopt, "a tel: URI cannot carry an empty number"},
    {"NoDigits", "+ -", std::nullopt, "a tel: URI cannot carry a number without digits"},
    {"NotUtf8", "020\xff", std::nullopt, "a tel: URI cannot carry a byte that is not UTF-8 text"},
};

INSTANTIATE_TEST_SUITE_P(Numbers, TelUri, testing::ValuesIn(kTelUris),
                         [](const testing::TestParamInfo<TelUriRow>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace dialmend
