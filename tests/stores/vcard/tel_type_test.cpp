#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "contacts/phone_field.h"
#include "stores/vcard/vcard.h"
#include "tests/stores/vcard/vcard_test_util.h"

namespace dialmend {
namespace {

using enum PhoneField;

struct TypeRow {
  std::string_view name;
  std::string_view property;  // the part before the colon
  std::string_view label;     // for an item2.X-ABLabel line, when not empty
  PhoneField field;
};

class VCardTelType : public testing::TestWithParam<TypeRow> {};

TEST_P(VCardTelType, MapsToItsField) {
  const TypeRow& row = GetParam();
  std::string body = std::string(row.property) + ":0171 930 8893\r\n";
  if (!row.label.empty()) body += "item2.X-ABLabel:" + std::string(row.label) + "\r\n";
  const VCard card = MustParse(Card(body));
  EXPECT_EQ(PhonesOf(card.Phones()), std::string(PhoneFieldLabel(row.field)) + ": 0171 930 8893\n");
}

// An untyped number whose only type, PREF, yields to its item label.
constexpr std::string_view kLabelled = "item2.TEL;type=pref";

const TypeRow kTypes[] = {
    {"HomeFaxList", "TEL;TYPE=HOME,FAX", "", HomeFax},
    {"HomeFaxRepeated", "TEL;TYPE=home;TYPE=fax", "", HomeFax},
    {"HomeFaxQuoted", "TEL;TYPE=\"home,fax\"", "", HomeFax},
    {"HomeFaxEachQuoted", "TEL;TYPE=\"home\",\"fax\"", "", HomeFax},
    {"HomeFaxBare", "TEL;HOME;FAX", "", HomeFax},
    {"HomeFaxMixedCase", "TEL;type=Home;TYPE=Fax", "", HomeFax},
    {"WorkFax", "TEL;TYPE=WORK,FAX", "", BusinessFax},
    {"FaxAlone", "TEL;TYPE=FAX", "", OtherFax},
    {"FaxVoice", "TEL;TYPE=FAX,VOICE", "", OtherFax},
    {"Cell", "TEL;TYPE=CELL", "", Mobile},
    {"CellWork", "TEL;TYPE=CELL,WORK", "", Mobile},
    {"IPhone", "TEL;type=IPHONE", "", Mobile},
    {"Pager", "TEL;TYPE=PAGER", "", Pager},
    {"Car", "TEL;TYPE=CAR", "", Car},
    {"Isdn", "TEL;ISDN", "", Isdn},
    {"Textphone", "TEL;TYPE=textphone", "", TtyTdd},
    {"AndroidTtyTdd", "TEL;TYPE=TTY-TDD", "", TtyTdd},
    {"EvolutionTtyTdd", "TEL;TYPE=X-EVOLUTION-TTYTDD", "", TtyTdd},
    {"EvolutionAssistant", "TEL;TYPE=X-EVOLUTION-ASSISTANT", "", Assistant},
    {"AndroidAssistant", "TEL;TYPE=ASSISTANT", "", Assistant},
    {"XAssistant", "TEL;TYPE=X-ASSISTANT", "", Assistant},
    {"EvolutionCallback", "TEL;TYPE=X-EVOLUTION-CALLBACK", "", Callback},
    {"AndroidCallback", "TEL;CALLBACK", "", Callback},
    {"EvolutionCompany", "TEL;TYPE=X-EVOLUTION-COMPANY", "", CompanyMain},
    {"AndroidCompanyMain", "TEL;TYPE=COMPANY-MAIN", "", CompanyMain},
    {"EvolutionRadio", "TEL;TYPE=X-EVOLUTION-RADIO", "", Radio},
    {"AndroidRadio", "TEL;RADIO", "", Radio},
    {"EvolutionTelex", "TEL;TYPE=X-EVOLUTION-TELEX", "", Telex},
    {"Tlx", "TEL;TLX", "", Telex},
    {"PrefAlone", "TEL;TYPE=PREF", "", Primary},
    {"PrefVoice", "TEL;TYPE=PREF,VOICE", "", Primary},
    {"PrefParameter", "TEL;PREF=1", "", Primary},
    {"EvolutionPrimary", "TEL;TYPE=X-EVOLUTION-PRIMARY", "", Primary},
    {"Main", "TEL;TYPE=MAIN", "", Primary},
    {"WorkPref", "TEL;TYPE=WORK,PREF", "", Business},
    {"HomePref", "TEL;TYPE=HOME;PREF=1", "", Home},
    {"Work", "TEL;TYPE=WORK", "", Business},
    {"Home", "TEL;TYPE=HOME", "", Home},
    {"Voice", "TEL;TYPE=VOICE", "", Other},
    {"NoType", "TEL", "", Other},
    {"OtherType", "TEL;TYPE=OTHER", "", Other},
    {"OtherPref", "TEL;TYPE=OTHER,PREF", "", Other},
    {"UnknownType", "TEL;TYPE=X-SATELLITE", "", Other},
    {"ValueText", "TEL;VALUE=text;TYPE=work", "", Business},
    {"Grouped", "item1.TEL;type=HOME", "", Home},
    {"ExchangeAssistant", "X-MS-TEL;VOICE;ASSISTANT", "", Assistant},
    {"ExchangeCallback", "X-MS-TEL;TYPE=CALLBACK", "", Callback},
    {"ExchangeCompany", "X-MS-TEL;VOICE;COMPANY", "", CompanyMain},
    {"ExchangeRadio", "X-MS-TEL;VOICE;RADIO", "", Radio},
    {"ExchangeTtyTdd", "X-MS-TEL;TTYTDD", "", TtyTdd},
    {"ExchangeOther", "X-MS-TEL;VOICE", "", Other},
    {"LabelAppleOther", kLabelled, "_$!<Other>!$_", Other},
    {"LabelAppleMain", kLabelled, "_$!<Main>!$_", Primary},
    {"LabelAppleMobile", kLabelled, "_$!<Mobile>!$_", Mobile},
    {"LabelAppleHomeFax", kLabelled, "_$!<HomeFAX>!$_", HomeFax},
    {"LabelAppleWorkFax", kLabelled, "_$!<WorkFAX>!$_", BusinessFax},
    {"LabelAppleOtherFax", kLabelled, "_$!<OtherFAX>!$_", OtherFax},
    {"LabelApplePager", kLabelled, "_$!<Pager>!$_", Pager},
    {"LabelAppleHome", kLabelled, "_$!<Home>!$_", Home},
    {"LabelAppleWork", kLabelled, "_$!<Work>!$_", Business},
    {"LabelAssistant", kLabelled, "Assistant", Assistant},
    {"LabelCallback", kLabelled, "callback", Callback},
    {"LabelCompanyMain", kLabelled, "Company Main", CompanyMain},
    {"LabelUnderscored", kLabelled, "Work_Fax", BusinessFax},
    {"LabelHyphenated", kLabelled, "home-fax", HomeFax},
    {"LabelRadio", kLabelled, "Radio", Radio},
    {"LabelTelex", kLabelled, "Telex", Telex},
    {"LabelTtyTdd", kLabelled, "TTY/TDD", TtyTdd},
    {"LabelOurOwnTty", kLabelled, "TTY/TTDD", TtyTdd},
    {"LabelCar", kLabelled, "Car", Car},
    {"LabelIsdn", kLabelled, "ISDN", Isdn},
    {"LabelOfUnknownWordsKeepsPref", kLabelled, "Google Voice", Primary},
    {"ExplicitTypeOverLabel", "item2.TEL;type=CELL", "Assistant", Mobile},
};

INSTANTIATE_TEST_SUITE_P(Types, VCardTelType, testing::ValuesIn(kTypes), kRowName);

struct TelUriRow {
  std::string_view name;
  std::string number;
  std::optional<std::string> uri_number;
  std::string_view error;
};

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

INSTANTIATE_TEST_SUITE_P(Numbers, TelUri, testing::ValuesIn(kTelUris), kRowName);

}  // namespace
}  // namespace dialmend
