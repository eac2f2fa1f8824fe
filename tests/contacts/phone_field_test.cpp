#include "contacts/phone_field.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>

namespace dialmend {
namespace {

struct FieldRow {
  PhoneField field;
  std::string_view label;
};

class PhoneFieldNames : public testing::TestWithParam<FieldRow> {};

TEST_P(PhoneFieldNames, GiveTheLabelOfTheField) {
  const FieldRow& row = GetParam();
  EXPECT_EQ(PhoneFieldLabel(row.field), row.label);
  EXPECT_LE(PhoneFieldLabel(row.field).size(), 12u);
}

// In table order; the index of each row is the field's position in that order.
constexpr FieldRow kRows[] = {
    {PhoneField::Assistant, "Assistant"},
    {PhoneField::Business, "Business"},
    {PhoneField::Business2, "Business 2"},
    {PhoneField::BusinessFax, "Business Fax"},
    {PhoneField::Callback, "Callback"},
    {PhoneField::Car, "Car"},
    {PhoneField::CompanyMain, "Company"},
    {PhoneField::Home, "Home"},
    {PhoneField::Home2, "Home 2"},
    {PhoneField::HomeFax, "Home Fax"},
    {PhoneField::Isdn, "ISDN"},
    {PhoneField::Mobile, "Mobile"},
    {PhoneField::Other, "Other"},
    {PhoneField::OtherFax, "Other Fax"},
    {PhoneField::Pager, "Pager"},
    {PhoneField::Primary, "Primary"},
    {PhoneField::Radio, "Radio"},
    {PhoneField::Telex, "Telex"},
    {PhoneField::TtyTdd, "TTY/TTDD"},
};

INSTANTIATE_TEST_SUITE_P(AllFields, PhoneFieldNames, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<FieldRow>& info) {
                           std::string name;
                           for (const char c : info.param.label) {
                             if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                           }
                           return name;
                         });

TEST(PhoneField, EnumeratesTheNineteenFieldsInTableOrder) {
  ASSERT_EQ(std::size(kRows), static_cast<std::size_t>(kPhoneFieldCount));
  for (int i = 0; i < kPhoneFieldCount; ++i) {
    EXPECT_EQ(static_cast<int>(kRows[i].field), i) << kRows[i].label;
  }
}

TEST(PhoneField, GivesAnEmptyLabelForAValueOutsideTheEnumeration) {
  const auto outside = static_cast<PhoneField>(kPhoneFieldCount);
  EXPECT_EQ(PhoneFieldLabel(outside), "");
}

}  // namespace
}  // namespace dialmend
